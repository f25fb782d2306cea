# Sourced (after bench/lib.sh) by the benchmarks that send mail: Postfix's
# smtp-sink on a free loopback port, stopped when the script ends.
#
# start_sink VAR [OPTION...]: starts a sink with smtp-sink's OPTIONs, puts its
# port in VAR and prints the EHLO reply it gives, so that the output says what
# every client was offered. Without options the sink does not announce
# PIPELINING (-p), so every client waits for each reply (lock-step).
# (smtp-sink's -P is something else: a greeting as if behind a Cisco PIX
# firewall, which also turns ESMTP off.)
sink=/usr/sbin/smtp-sink
need "$sink"

start_sink() {
  local var=$1 sink_port pid i reply line user_opt=()
  shift
  local options=("$@")
  [ ${#options[@]} -gt 0 ] || options=(-p)
  sink_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  [ "$(id -u)" = 0 ] && user_opt=(-u nobody)
  "$sink" "${user_opt[@]}" "${options[@]}" 127.0.0.1:"$sink_port" 1000 >"$work/sink-$sink_port.log" 2>&1 &
  pid=$!
  at_exit "kill $pid 2>/dev/null; wait $pid 2>/dev/null"
  # Ready when it accepts a connection (bounded: 10 s).
  for i in $(seq 200); do
    (exec 3<>/dev/tcp/127.0.0.1/"$sink_port") 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || { echo "smtp-sink did not start: $(cat "$work/sink-$sink_port.log")" >&2; exit 1; }
    sleep 0.05
  done
  exec 3<>/dev/tcp/127.0.0.1/"$sink_port"
  reply=
  read -r -t 5 line <&3 || { echo "smtp-sink on port $sink_port sends no greeting" >&2; exit 1; }
  printf 'EHLO bench\r\n' >&3
  read -r -t 5 line <&3  # 250-HOSTNAME
  while [[ $line == 250-* ]] && read -r -t 5 line <&3; do
    line=${line%$'\r'}
    reply+=" ${line#250[- ]}"
  done
  printf 'QUIT\r\n' >&3
  exec 3<&- 3>&-
  echo "smtp-sink ${options[*]} on port $sink_port offers:$reply"
  if [[ " ${options[*]} " == *" -p "* && $reply == *PIPELINING* ]]; then
    echo "smtp-sink -p still offers PIPELINING" >&2
    exit 1
  fi
  printf -v "$var" '%s' "$sink_port"
}
