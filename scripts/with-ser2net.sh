#!/usr/bin/env bash
# Runs a command against the simulated controller shared over the network: the
# simulator behind a pseudo-terminal (`kmtv1 simulate --pty`), Debian's ser2net on a
# free loopback port in front of it (telnet with the COM-port option, no character
# batching, the controller's serial string as its signature), both ended by process id
# when the command ends. Linux only. The command sees:
#   KMT_DRIVER         rfc2217:127.0.0.1:PORT (the controller found by its signature)
#   KMT_TTY_DRIVER     tty:/dev/pts/N=SERIAL  (the same controller directly)
#   KMT_RFC2217_URL    rfc2217://127.0.0.1:PORT (for pyserial)
#   KMT_PTY            /dev/pts/N
# Usage: scripts/with-ser2net.sh KMTV1_TOOL [SIMULATOR_OPTIONS] -- COMMAND [ARGS...]
set -euo pipefail
tool=$1
shift
options=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
shift
ser2net=/usr/sbin/ser2net
[ -x "$ser2net" ] || { echo "ser2net is not installed ($ser2net): apt-get install ser2net" >&2; exit 77; }

work=$(mktemp -d)
ser2net_pid=
coproc SIM { exec "$tool" simulate --pty "${options[@]}"; }
sim_pid=$SIM_PID
cleanup() {
  [ -z "$ser2net_pid" ] || kill "$ser2net_pid" 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
read -r -u "${SIM[0]}" direct
pty=${direct#tty:}
pty=${pty%%=*}
serial=${direct##*=}

# A free port; ser2net is told to bind it a moment later.
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &controller
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$pty,250000n81,local
  options:
    chardelay: false
    signature: $serial
EOF
"$ser2net" -n -d -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
ser2net_pid=$!
# Listening, seen in the kernel's table rather than by connecting (a connection would
# open the terminal).
hex=$(printf ':%04X' "$port")
for _ in $(seq 200); do
  awk -v p="$hex" '$2 ~ p"$" && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp && break
  sleep 0.025
done

KMT_DRIVER=rfc2217:127.0.0.1:$port KMT_TTY_DRIVER=$direct KMT_RFC2217_URL=rfc2217://127.0.0.1:$port \
  KMT_PTY=$pty "$@"
