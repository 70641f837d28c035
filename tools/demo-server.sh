#!/usr/bin/env bash
# Runs the test FTP server as a demo Velmora server on 127.0.0.1, serving a generated sample tree.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
server="$here/../tests/server/qel_ftpd.py"
maketree="$here/make_sample_tree.py"
python=/usr/bin/python3

root=/tmp/velmora-demo/server
state=""
port=0
port_file=""
background=0
fresh=0
action=start
extra=()

usage() {
    cat <<EOF
Usage: $(basename "$0") [options] [-- server switches]

Starts a demo Velmora server (user "tas") on 127.0.0.1 and prints the host entry to type.
The sample tree is generated on first use and kept afterwards, so backups and restores
against it persist.

  --root DIR        folder served as the server's root (default $root)
  --port N          listen on port N (default: a free port)
  --port-file FILE  write the port to FILE (default STATE/port)
  --state-dir DIR   where the pid, port and log files go (default: beside the root,
                    in ROOT.state)
  --background      run detached; print the PID and return
  --fresh           generate the sample tree anew before starting
  --reset-markers   put the markers safe and safe2 back (a successful Backup or Restore
                    removes safe) and exit
  --stop            stop the demo server started with --background and exit
  --help            this text
Switches after "--" go to the server, e.g. -- --fail-retr 3 (see qel_ftpd.py --help).
EOF
}

fail() {
    echo "demo-server: $*" >&2
    exit 1
}

while [ $# -gt 0 ]; do
    case "$1" in
    --root) root=${2:?--root needs a folder}; shift 2 ;;
    --port) port=${2:?--port needs a number}; shift 2 ;;
    --port-file) port_file=${2:?--port-file needs a file}; shift 2 ;;
    --state-dir) state=${2:?--state-dir needs a folder}; shift 2 ;;
    --background) background=1; shift ;;
    --fresh) fresh=1; shift ;;
    --reset-markers) action=reset; shift ;;
    --stop) action=stop; shift ;;
    --help | -h) usage; exit 0 ;;
    --) shift; extra=("$@"); break ;;
    *) usage >&2; exit 64 ;;
    esac
done

case "$port" in
'' | *[!0-9]*) fail "--port wants a number, not '$port'" ;;
esac
root=${root%/}
[ -n "$root" ] || fail "--root cannot be the file system root"
state=${state:-$root.state}
port_file=${port_file:-$state/port}
pid_file=$state/pid
log_file=$state/server.log

# The pid of the running demo server, or nothing.
running_pid() {
    [ -f "$pid_file" ] || return 0
    local pid
    pid=$(cat "$pid_file")
    case "$pid" in '' | *[!0-9]*) return 0 ;; esac
    if kill -0 "$pid" 2>/dev/null && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q qel_ftpd.py; then
        echo "$pid"
    fi
}

stop_server() {
    local pid
    pid=$(running_pid)
    if [ -z "$pid" ]; then
        echo "demo-server: no demo server is running for $root"
        rm -f "$pid_file"
        return 0
    fi
    kill -TERM "$pid"
    for _ in $(seq 30); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    rm -f "$pid_file"
    echo "demo-server: stopped $pid"
}

require_pyftpdlib() {
    "$python" -c 'import pyftpdlib' 2>/dev/null ||
        fail "pyftpdlib is missing; install it with: apt-get install python3-pyftpdlib"
}

prepare_tree() {
    if [ "$fresh" = 1 ] && [ -d "$root" ]; then
        rm -rf -- "$root"
    fi
    if [ ! -d "$root/access2" ]; then
        echo "demo-server: generating the sample server tree in $root"
        "$python" "$maketree" "$root"
    fi
}

# Waits for the server to write its port; prints it.
wait_for_port() {
    local pid=$1
    for _ in $(seq 150); do
        if [ -s "$port_file" ]; then
            cat "$port_file"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$pid" 2>/dev/null || true
    cat "$log_file" >&2 2>/dev/null || true
    fail "the server did not start"
}

announce() {
    echo "Velmora demo server: type 127.0.0.1:$1 as the host"
}

start_server() {
    require_pyftpdlib
    local pid listening
    pid=$(running_pid)
    if [ -n "$pid" ]; then
        echo "demo-server: already running (PID $pid)"
        announce "$(cat "$port_file")"
        return 0
    fi
    mkdir -p "$state" "$(dirname "$port_file")"
    prepare_tree
    rm -f "$port_file"
    local command=("$python" "$server" --root "$root" --bind 127.0.0.1 --port "$port"
        --port-file "$port_file" "${extra[@]}")
    if [ "$background" = 1 ]; then
        setsid "${command[@]}" </dev/null >"$log_file" 2>&1 &
        pid=$!
        echo "$pid" >"$pid_file"
        listening=$(wait_for_port "$pid") || { rm -f "$pid_file"; exit 1; }
        announce "$listening"
        echo "PID $pid; stop it with: $0 --root $root --stop"
        return 0
    fi
    "${command[@]}" </dev/null 2>"$log_file" &
    pid=$!
    echo "$pid" >"$pid_file"
    trap 'kill -TERM $pid 2>/dev/null' INT TERM
    listening=$(wait_for_port "$pid") || { rm -f "$pid_file"; exit 1; }
    announce "$listening"
    echo "Serving $root; press Ctrl+C to stop."
    wait "$pid" || true
    rm -f "$pid_file"
}

case "$action" in
stop) stop_server ;;
reset)
    "$python" "$maketree" --reset-markers "$root"
    echo "demo-server: markers safe and safe2 are back in $root"
    ;;
start) start_server ;;
esac
