#!/usr/bin/env bash
# A throwaway CardDAV server (Radicale over TLS on 127.0.0.1) for the CardDAV store's tests and
# benchmark.
#
#   carddav-server.sh start DIR    makes DIR (if needed) and, in it, a CA, a certificate for
#                                  127.0.0.1 and localhost signed by it, a second unrelated CA,
#                                  the users and the Radicale configuration; starts Radicale on a
#                                  free port with its collections in DIR/collections, and makes
#                                  two address books for ada:
#                                    /ada/contacts/  "Contacts"
#                                    /ada/work/      "Work"
#                                  Users (plain-text htpasswd, each sees only their own
#                                  collections): ada / lovelace and bob / builder.
#                                  Writes DIR/server.env, shell assignments to source:
#                                    CARDDAV_PORT, CARDDAV_URL (https://127.0.0.1:PORT/),
#                                    CARDDAV_CA (DIR/ca.pem), CARDDAV_OTHER_CA (DIR/other-ca.pem,
#                                    signed nothing we serve), CARDDAV_PID.
#   carddav-server.sh stop DIR     stops the server started in DIR and waits until it is gone.
#   carddav-server.sh restart DIR  stops it if it runs and starts it again on the same port, with
#                                  the same certificates and collections (a server that went
#                                  away in the middle of an import and came back).
#
# Exit status: 0 on success; 77 with the reason when radicale, openssl or curl is missing or the
# server does not start (so that a test calling it can skip); 2 for a wrong command line.
#
# What this Radicale (3.1) answers, tried by hand with curl:
#   - PROPFIND /.well-known/carddav (no auth) is a 301 to "/"; PROPFIND "/" with auth answers
#     current-user-principal <href>/ada/</href>, and PROPFIND /ada/ answers
#     addressbook-home-set <href>/ada/</href>. Depth 1 on /ada/ lists the address books, with
#     resourcetype <CR:addressbook/> and displayname.
#   - supported-report-set of an address book lists sync-collection, addressbook-multiget and
#     addressbook-query. sync-collection answers href, getetag and, when asked for, address-data
#     (the whole card) in one answer, with a sync-token "http://radicale.org/ns/sync/HEX"; an
#     unknown token is a 403 with <D:valid-sync-token/>.
#   - A PUT answers 201 with an ETag; If-None-Match: * on an existing card is a 412. Without
#     credentials every request is a 401 with WWW-Authenticate: Basic realm="Radicale - Password
#     Required"; another user's collection is a 403.
#   - MKCOL on an existing collection is a 405 (a start over old storage keeps the books).
#   - Cards come back as Radicale rewrote them (its own property order, LF line ends inside the
#     XML), with the ETag the PUT answered.
#   - Every answer is HTTP/1.0 and closes the connection (no keep-alive), so each request is a
#     new TLS handshake. A PUT of a new card reads every card of the book to check its UID
#     (has_uid), so n new cards cost Radicale O(n²): about 45 ms a card into an empty book,
#     9 cards/s on average for 2,000 (bench/carddav-bench.sh).
set -uo pipefail

# shellcheck source=../../test-servers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../test-servers.sh"

usage() {
    echo "usage: carddav-server.sh start|stop|restart DIR" >&2
    exit 2
}
[ $# -eq 2 ] || usage
command=$1
dir=$2

skip() {
    echo "carddav-server.sh: $*" >&2
    exit 77
}

stop_server() {
    stop_pid_file "$dir/radicale.pid"
}

# A self-signed CA named $2 in DIR/$1.pem (key $1.key).
make_ca() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -subj "/CN=$2" -keyout "$dir/$1.key" -out "$dir/$1.pem" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign"
}

make_certificates() {
    make_ca ca "Pelkora CardDAV Test CA" &&
        make_ca other-ca "Pelkora Unrelated Test CA" &&
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=127.0.0.1" \
            -keyout "$dir/server.key" -out "$dir/server.csr" &&
        printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n' \
            >"$dir/server.ext" &&
        openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
            -CAcreateserial -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem"
}

write_config() {
    local port=$1
    printf 'ada:lovelace\nbob:builder\n' >"$dir/htpasswd"
    cat >"$dir/radicale.conf" <<CONF
[server]
hosts = 127.0.0.1:$port
ssl = True
certificate = $dir/server.pem
key = $dir/server.key
[auth]
type = htpasswd
htpasswd_filename = $dir/htpasswd
htpasswd_encryption = plain
delay = 0
[rights]
type = owner_only
[storage]
filesystem_folder = $dir/collections
[logging]
level = warning
CONF
}

answers() { # port
    curl -s -o /dev/null --max-time 2 --cacert "$dir/ca.pem" "https://127.0.0.1:$1/" 2>/dev/null
}

# Runs Radicale on the port of DIR/radicale.conf and waits until it answers over TLS.
run_server() {
    local port=$1 pid
    # Its own session: the caller's Ctrl-C or the end of its shell does not reach it.
    setsid radicale --config "$dir/radicale.conf" >>"$dir/radicale.log" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >"$dir/radicale.pid"
    for _ in $(seq 1 100); do
        answers "$port" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! answers "$port"; then
        stop_server
        skip "Radicale does not answer on port $port: $(tail -5 "$dir/radicale.log")"
    fi
    cat >"$dir/server.env" <<ENV
CARDDAV_PORT=$port
CARDDAV_URL=https://127.0.0.1:$port/
CARDDAV_CA=$dir/ca.pem
CARDDAV_OTHER_CA=$dir/other-ca.pem
CARDDAV_PID=$pid
ENV
}

# An address book at PATH (under https://127.0.0.1:PORT/) named NAME, made by ada.
make_book() { # port path name
    local status
    status=$(curl -s -o "$dir/mkcol.txt" -w '%{http_code}' --cacert "$dir/ca.pem" -u ada:lovelace \
        -X MKCOL -H 'Content-Type: application/xml; charset=utf-8' \
        --data-binary @- "https://127.0.0.1:$1$2" <<XML
<?xml version="1.0" encoding="utf-8"?>
<D:mkcol xmlns:D="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav">
  <D:set><D:prop>
    <D:resourcetype><D:collection/><CR:addressbook/></D:resourcetype>
    <D:displayname>$3</D:displayname>
  </D:prop></D:set>
</D:mkcol>
XML
    )
    # 405: it is there already (a restart over the same collections).
    if [[ "$status" != 201 && "$status" != 405 ]]; then
        stop_server
        skip "MKCOL $2 answered $status: $(cat "$dir/mkcol.txt")"
    fi
}

start_server() {
    for program in radicale openssl curl; do
        command -v "$program" >/dev/null || skip "$program is not installed (scripts/install-deps --tests)"
    done
    mkdir -p "$dir" || exit 1
    dir=$(cd "$dir" && pwd)
    stop_server
    make_certificates >"$dir/openssl.log" 2>&1 || skip "openssl failed: $(cat "$dir/openssl.log")"
    local port
    port=$(free_port)
    write_config "$port"
    run_server "$port"
    make_book "$port" /ada/contacts/ Contacts
    make_book "$port" /ada/work/ Work
    cat "$dir/server.env"
}

restart_server() {
    dir=$(cd "$dir" 2>/dev/null && pwd) || skip "no server was started in $2"
    [ -f "$dir/radicale.conf" ] || skip "no server was started in $dir"
    stop_server
    local port
    port=$(sed -n 's/^hosts = 127.0.0.1://p' "$dir/radicale.conf")
    run_server "$port"
    cat "$dir/server.env"
}

case "$command" in
    start) start_server ;;
    stop) stop_server ;;
    restart) restart_server "$@" ;;
    *) usage ;;
esac
