#!/usr/bin/env bash
# MX lookups of 10,000 synthetic domains against a local dnsmasq: the MX
# library (mx_bench) and GNU adns's adnshost asking the same question (the MX
# records alone: -t mx-, with every query in flight), each timed as a whole
# process, three times interleaved, the best of each compared. Then the level-1
# check with a short and a long domain list.
#   bash bench/mx/run.sh [BUILD-DIR]     (default the build folder of the checkout)
set -euo pipefail
. "$(dirname "$0")/../lib.sh"
need mx_bench level1_bench /usr/bin/adnshost /usr/sbin/dnsmasq
count=10000

{
  echo "local=/test/"
  echo "host-record=mail.test,10.0.0.1"
  echo "host-record=ready.test,10.0.0.2"
  for ((i = 0; i < count; i++)); do echo "mx-host=d$i.test,mail.test,10"; done
} >"$work/dnsmasq.conf"
for ((i = 0; i < count; i++)); do echo "d$i.test"; done >"$work/domains"

# dnsmasq on port 53 of a loopback address (adnshost cannot be given another
# port); the first address whose port 53 is free.
address=
for a in 127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5; do
  /usr/sbin/dnsmasq --no-resolv --no-hosts --keep-in-foreground --conf-file="$work/dnsmasq.conf" \
    --listen-address="$a" --bind-interfaces --port=53 --pid-file= --user=root \
    --log-facility="$work/dnsmasq.log" --cache-size=0 &
  pid=$!
  for _ in $(seq 100); do  # ready when it answers (bounded: 10 s)
    kill -0 "$pid" 2>/dev/null || break
    if adnshost --config "nameserver $a" -t a ready.test >/dev/null 2>&1; then address=$a; break; fi
    sleep 0.1
  done
  if [ -n "$address" ]; then at_exit "kill $pid; wait $pid"; break; fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done
[ -n "$address" ] || { echo "bench/mx: no loopback address with a free port 53 for dnsmasq" >&2; exit 1; }
echo "dnsmasq on $address port 53, $count domains with MX records"

best_ours=0 best_adns=0
for run in 1 2 3; do
  timed "$work/ours.out" "$bin/mx_bench" "$address" "$work/domains"
  grep -q "(MX $count," "$work/ours.out" || { echo "mx_bench: $(cat "$work/ours.out")" >&2; exit 1; }
  rate=$(per_second "$count" "$seconds")
  echo "  run $run: mx_bench: $count domains in $seconds s = $rate domains/s ($(sed 's/.*(\(.*\))/\1/' "$work/ours.out"))"
  best_ours=$(larger "$best_ours" "$rate")

  timed "$work/adns.out" adnshost --config "nameserver $address" -a -t mx- -f <"$work/domains"
  answered=$(grep -cE '^[0-9]+ [0-9]+ ok ' "$work/adns.out" || true)
  [ "$answered" = "$count" ] || { echo "adnshost answered $answered of $count" >&2; exit 1; }
  rate=$(per_second "$count" "$seconds")
  echo "  run $run: adnshost -a -t mx- -f: $count domains in $seconds s = $rate domains/s ($answered answered)"
  best_adns=$(larger "$best_adns" "$rate")
done
echo "best rate (domains/s): mx_bench $best_ours, adnshost $best_adns"

"$bin/level1_bench" | tee "$work/level1.out"
times=($(sed -n 's/.*listed domains: \([0-9.]*\) ms.*/\1/p' "$work/level1.out"))
[ ${#times[@]} = 2 ] || { echo "level1_bench printed no times" >&2; exit 1; }

ratio mx_vs_adnshost "$best_ours" "$best_adns" ">=0.5"
ratio mx_level1_long_vs_short_list "$(larger "${times[@]}")" "$(smaller "${times[@]}")" "<1.5"
