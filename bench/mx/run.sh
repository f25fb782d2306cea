#!/usr/bin/env bash
# MX lookups of 10,000 synthetic domains against a local dnsmasq, by the MX
# library and by adnshost with every query in flight; then the level-1 check
# with a short and a long domain list.
#   bash bench/mx/run.sh [BUILD-DIR]     (default the build folder of the checkout)
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
bin=$build/bin
for exe in mx_bench level1_bench; do
  [ -x "$bin/$exe" ] || { echo "bench/mx: $bin/$exe is not built" >&2; exit 1; }
done
count=10000
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

{
  echo "local=/test/"
  echo "host-record=mail.test,10.0.0.1"
  echo "host-record=ready.test,10.0.0.2"
  for ((i = 0; i < count; i++)); do echo "mx-host=d$i.test,mail.test,10"; done
} > "$work/dnsmasq.conf"
for ((i = 0; i < count; i++)); do echo "d$i.test"; done > "$work/domains"

ready() {  # ADDRESS PORT: does the server answer yet?
  if [ "$2" = 53 ] && command -v adnshost >/dev/null; then
    adnshost --config "nameserver $1" -t a ready.test >/dev/null 2>&1
  else
    TARN_DNS_PORT=$2 timeout 5 "$bin/mx_bench" "$1" <(echo ready.test) >/dev/null 2>&1
  fi
}

start_dnsmasq() {  # ADDRESS PORT
  /usr/sbin/dnsmasq --no-resolv --no-hosts --keep-in-foreground --conf-file="$work/dnsmasq.conf" \
    --listen-address="$1" --bind-interfaces --port="$2" --pid-file= --user=root \
    --log-facility="$work/dnsmasq.log" --cache-size=0 &
  pid=$!
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" || true; pid=; return 1; }
    ready "$1" "$2" && return 0
    sleep 0.1
  done
  kill "$pid"; wait "$pid" || true; pid=
  return 1
}

# Port 53 on a loopback address (adnshost cannot be told another port); if
# every candidate is taken, a free port for our library alone.
address= port=
for a in 127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5; do
  if start_dnsmasq "$a" 53; then address=$a port=53; break; fi
done
if [ -z "$address" ]; then
  p=$(/usr/bin/python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.2", 0)); print(s.getsockname()[1])')
  start_dnsmasq 127.0.0.2 "$p" || { echo "bench/mx: dnsmasq did not start" >&2; exit 1; }
  address=127.0.0.2 port=$p
fi
echo "dnsmasq on $address port $port, $count domains with MX records"

best_ours=0
for run in 1 2 3; do
  line=$(TARN_DNS_PORT=$port "$bin/mx_bench" "$address" "$work/domains")
  echo "  run $run: $line"
  rate=$(sed -n 's/.*= \([0-9]*\) domains\/s.*/\1/p' <<<"$line")
  [ "$rate" -gt "$best_ours" ] && best_ours=$rate
done

if [ "$port" = 53 ] && command -v adnshost >/dev/null; then
  best_adns=0
  for run in 1 2 3; do
    t0=$(date +%s.%N)
    answered=$(adnshost --config "nameserver $address" -a -t mx -f < "$work/domains" 2>/dev/null |
      grep -cE '^[0-9]+ [0-9]+ ok ' || true)
    t1=$(date +%s.%N)
    rate=$(awk -v n="$count" -v a="$t0" -v b="$t1" 'BEGIN { printf "%d", n / (b - a) }')
    echo "  run $run: adnshost -a -t mx -f: $count domains ($answered answered) in $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') s = $rate domains/s"
    [ "$rate" -gt "$best_adns" ] && best_adns=$rate
  done
  awk -v o="$best_ours" -v a="$best_adns" 'BEGIN { printf "MX lookups: TarnMxvrfy %d/s, adnshost %d/s, ratio %.2f (goal: at least 0.50)\n", o, a, o / a }'
else
  echo "MX lookups: TarnMxvrfy $best_ours/s (adnshost needs port 53; not compared)"
fi

"$bin/level1_bench"
