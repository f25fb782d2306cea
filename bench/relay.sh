# Sourced (after bench/lib.sh) by the benchmarks that send through a network
# with a delay: bench/delay_relay.py on a free loopback port in front of a
# sink, stopped when the script ends.
#
# start_relay VAR TARGET_PORT RTT_MS: starts a relay that holds every chunk
# RTT_MS/2 ms each way in front of TARGET_PORT and puts its port in VAR.
# relay_figures: what the relay forwarded since it was last asked, and how late
# its chunks went out beyond the hold (a busy machine delays them; the two
# sides of a comparison should see about the same).
start_relay() {
  local var=$1 target=$2 rtt=$3 listen hold_ms
  listen=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  hold_ms=$(awk -v d="$rtt" 'BEGIN { print d / 2 }')
  rm -f "$work/relay.ready"
  /usr/bin/python3 "$bench_root/bench/delay_relay.py" "$listen" "$target" "$hold_ms" \
    "$work/relay.ready" "$work/relay.stats" 2>"$work/relay.err" &
  relay_pid=$!
  at_exit "kill $relay_pid 2>/dev/null; wait $relay_pid 2>/dev/null"
  # Ready when it says so (bounded: 10 s).
  for _ in $(seq 200); do
    [ -e "$work/relay.ready" ] && break
    kill -0 "$relay_pid" 2>/dev/null || { echo "the relay did not start: $(cat "$work/relay.err")" >&2; exit 1; }
    sleep 0.05
  done
  [ -e "$work/relay.ready" ] || { echo "the relay did not start within 10 s" >&2; exit 1; }
  echo "relay on port $listen holds each chunk ${hold_ms} ms each way in front of port $target"
  printf -v "$var" "%s" "$listen"
}

relay_figures() {
  rm -f "$work/relay.stats"
  kill -USR1 "$relay_pid"
  for _ in $(seq 100); do
    [ -s "$work/relay.stats" ] && break
    sleep 0.05
  done
  [ -s "$work/relay.stats" ] || { echo "the relay gave no figures: $(cat "$work/relay.err")" >&2; exit 1; }
  cat "$work/relay.stats"
}
