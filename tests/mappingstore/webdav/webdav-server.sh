#!/usr/bin/env bash
# A throwaway WebDAV server (Apache httpd with mod_dav over TLS) for tests.
#
#   webdav-server.sh start DIR   makes DIR (if needed) and, in it, a CA and a certificate for
#                                127.0.0.1 and localhost, an Apache configuration listening on a
#                                free port of 127.0.0.1, and starts the server. Prints the base
#                                URL of the WebDAV folder, and writes what tests need into DIR:
#                                  DIR/url            https://127.0.0.1:PORT/dav/  (basic auth)
#                                  DIR/ca.pem         the CA that signed the server's certificate
#                                  DIR/forbidden-url  https://127.0.0.1:PORT/forbidden/ (403 always)
#                                  DIR/moved-url      https://127.0.0.1:PORT/moved/ (307 to /dav/)
#                                  DIR/elsewhere-url  https://127.0.0.1:PORT/elsewhere/ (307 to
#                                                     https://localhost:PORT/dav/, another host)
#                                Users: ada / secret1 and bob / secret2. Files land in DIR/root/dav.
#   webdav-server.sh stop DIR    stops the server started in DIR and waits until it is gone.
#
# Exits 0 on success; on failure prints why on stderr and exits 1 (the error log is DIR/error.log).
set -euo pipefail

# shellcheck source=../../test-servers.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../test-servers.sh"

usage() {
  echo "usage: webdav-server.sh start|stop DIR" >&2
  exit 2
}
[ $# -eq 2 ] || usage
command=$1
dir=$2

stop_server() {
  stop_pid_file "$dir/httpd.pid"
}

make_certificates() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=Pelkora Test CA" \
    -keyout "$dir/ca.key" -out "$dir/ca.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    >/dev/null 2>&1
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=127.0.0.1" \
    -keyout "$dir/server.key" -out "$dir/server.csr" >/dev/null 2>&1
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n' \
    >"$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days 2 -extfile "$dir/server.ext" -out "$dir/server.pem" >/dev/null 2>&1
}

write_config() {
  local port=$1 user_lines=""
  # Apache will not serve as root: as root, the workers run as www-data.
  if [ "$(id -u)" -eq 0 ]; then
    user_lines=$'User www-data\nGroup www-data'
  fi
  local modules=(mpm_event authz_core authn_core authn_file auth_basic authz_user dav dav_fs
    ssl socache_shmcb mime dir alias setenvif log_config unixd)
  {
    local built_in
    built_in=$(apache2 -l)
    for module in "${modules[@]}"; do
      # Debian builds some of them into the server.
      grep -q "mod_$module.c" <<<"$built_in" && continue
      echo "LoadModule ${module}_module /usr/lib/apache2/modules/mod_${module}.so"
    done
    cat <<CONF
$user_lines
ServerRoot "$dir"
ServerName 127.0.0.1
Listen 127.0.0.1:$port
PidFile "$dir/httpd.pid"
ErrorLog "$dir/error.log"
LogLevel warn
LogFormat "%h %u \"%r\" %>s" brief
CustomLog "$dir/access.log" brief
TypesConfig /etc/mime.types
Mutex file:$dir
DefaultRuntimeDir "$dir"
DocumentRoot "$dir/root"
FileETag MTime Size
DavLockDB "$dir/lock/DavLock"

SSLEngine on
SSLCertificateFile "$dir/server.pem"
SSLCertificateKeyFile "$dir/server.key"
SSLSessionCache "shmcb:$dir/ssl_scache(512000)"

<Directory "$dir/root">
  Require all granted
</Directory>
<Location "/dav/">
  Dav On
  AuthType Basic
  AuthName "Pelkora test"
  AuthUserFile "$dir/htpasswd"
  Require valid-user
</Location>
<Location "/forbidden/">
  Dav On
  Require all denied
</Location>
Redirect 307 /moved/ https://127.0.0.1:$port/dav/
Redirect 307 /elsewhere/ https://localhost:$port/dav/
CONF
  } >"$dir/httpd.conf"
}

start_server() {
  command -v apache2 >/dev/null || { echo "webdav-server.sh: apache2 is not installed" >&2; exit 1; }
  command -v htpasswd >/dev/null || { echo "webdav-server.sh: htpasswd is not installed" >&2; exit 1; }
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  stop_server
  mkdir -p "$dir/root/dav" "$dir/root/forbidden" "$dir/lock"
  make_certificates
  htpasswd -cbB "$dir/htpasswd" ada secret1 2>/dev/null
  htpasswd -bB "$dir/htpasswd" bob secret2 2>/dev/null
  if [ "$(id -u)" -eq 0 ]; then
    chmod a+x "$dir"
    chmod a+r "$dir/htpasswd"
    chown -R www-data:www-data "$dir/root" "$dir/lock"
  fi
  local port
  port=$(free_port)
  write_config "$port"
  : >"$dir/error.log"
  if ! apache2 -f "$dir/httpd.conf" -k start 2>"$dir/start.log"; then
    echo "webdav-server.sh: apache2 did not start: $(cat "$dir/start.log" "$dir/error.log")" >&2
    exit 1
  fi
  for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      local base="https://127.0.0.1:$port"
      echo "$base/dav/" >"$dir/url"
      echo "$base/forbidden/" >"$dir/forbidden-url"
      echo "$base/moved/" >"$dir/moved-url"
      echo "$base/elsewhere/" >"$dir/elsewhere-url"
      echo "$base/dav/"
      return 0
    fi
    sleep 0.1
  done
  echo "webdav-server.sh: apache2 does not answer on port $port: $(cat "$dir/error.log")" >&2
  stop_server
  exit 1
}

case "$command" in
  start) start_server ;;
  stop) stop_server ;;
  *) usage ;;
esac
