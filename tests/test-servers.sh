# Helpers the throwaway-server scripts of the tests source (webdav-server.sh,
# carddav-server.sh): stopping a server by its pid file, and a free port on 127.0.0.1.

# Stops the process whose pid the file holds (TERM, then KILL after ten seconds) and removes
# the file; nothing when there is no file.
stop_pid_file() { # pid-file
    local pid_file=$1 pid
    [ -f "$pid_file" ] || return 0
    pid=$(cat "$pid_file")
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$pid_file"
}

free_port() {
    /usr/bin/python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}
