# Sourced by the benchmarks that send mail: starts Postfix's smtp-sink on a free
# loopback port without PIPELINING (-P), so every client waits for each reply,
# in a fresh folder $work; both go away when the script exits.
# Sets: port, work, sink_pid.
sink=/usr/sbin/smtp-sink
[ -x "$sink" ] || { echo "smtp-sink missing (Debian package postfix)" >&2; exit 1; }
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
work=$(mktemp -d)
user_opt=()
[ "$(id -u)" = 0 ] && user_opt=(-u nobody)
"$sink" "${user_opt[@]}" -P 127.0.0.1:"$port" 1000 >"$work/sink.log" 2>&1 &
sink_pid=$!
trap 'kill "$sink_pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break
  sleep 0.05
done
