#!/usr/bin/env bash
# Runs the service against three emulated scales on loopback addresses, with
# the settings of examples/tarvo-scale-server.ini, drops the files of
# examples/ into its import folder one after another, waiting for each to
# reach its scales, and ends with a table of what each scale holds and
# `tarvoctl scales`.
#
#   tools/demo.sh            (after: cmake -S . -B build && cmake --build build)
#
# Everything lives in a fresh folder under /tmp, kept afterwards. The service
# and the emulator are stopped when the demo ends, fails or is interrupted
# (Ctrl-C, SIGTERM). TARVO_BIN names another folder of executables (default
# build/bin); TARVO_PORT_BASE the service's first TCP port (default 16524).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${TARVO_BIN:-$root/build/bin}
examples=$root/examples
port_base=${TARVO_PORT_BASE:-16524}
wait_seconds=60 # for one file to reach its scales

emu_pid=
server_pid=
work=
# The demo's own output, for finish(): a signal may arrive while a command's
# output is sent elsewhere.
exec 3>&1 4>&2

fail() {
  echo "demo: $*" >&2
  exit 1
}

# Stops one process started here: SIGTERM, up to ten seconds to end, then
# SIGKILL; reaps it either way.
stop() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

finish() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  exec 1>&3 2>&4
  # Every background job, also one whose pid a signal kept from being noted.
  local pids
  pids=$(jobs -p)
  if [ -n "$server_pid$emu_pid$pids" ]; then
    echo "== stopping the service and the emulator"
    for pid in $server_pid $emu_pid $pids; do stop "$pid"; done
  fi
  [ "$status" = 0 ] || echo "== the demo stopped early (status $status)"
  [ -z "$work" ] || echo "== everything the demo made is in $work"
  exit "$status"
}
trap finish EXIT
trap 'echo; exit 130' INT
trap 'exit 143' TERM

for program in tarvo-scale-server tarvo-scale-emu tarvoctl; do
  [ -x "$bin/$program" ] || fail "$bin/$program is missing; build first: cmake -S . -B build && cmake --build build -j2"
done
ctl() { "$bin/tarvoctl" --port-base "$port_base" "$@"; }
if (exec 3<>"/dev/tcp/127.0.0.1/$port_base") 2>/dev/null; then
  fail "port $port_base is taken (another service or demo?); set TARVO_PORT_BASE to a free one"
fi

# The scales of the example settings, and the scale setting the example
# settings file changes.
mapfile -t scales < <(tr -d '\r' <"$examples/tarvo-scale-server.ini" |
  sed -n '/^\[ListScales\]/,/^\[/s/^Scale[0-9]*=//p')
[ "${#scales[@]}" -gt 0 ] || fail "no scales in $examples/tarvo-scale-server.ini"
setting=$(tr -d '\r' <"$examples/scale-settings.ini" |
  sed -n '/^\[ScaleSettings\]/,/^\[/{/^;/d;/^Version=/Id;s/=.*//p}' | head -n 1)

work=$(mktemp -d /tmp/tarvo-demo.XXXXXX)
echo "== demo folder: $work"
cp "$bin/tarvo-scale-server" "$examples/tarvo-scale-server.ini" "$work/"
mkdir -p "$work/Import"

echo "== starting the scale emulator for ${scales[*]}"
"$bin/tarvo-scale-emu" --state "$work/scales" --port 0 "${scales[@]}" >"$work/emulator.out" 2>&1 &
emu_pid=$!
for _ in $(seq 100); do
  [ "$(grep -c '^listening on' "$work/emulator.out")" = "${#scales[@]}" ] && break
  kill -0 "$emu_pid" 2>/dev/null || break
  sleep 0.1
done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out" | head -n 1)
[ "$(grep -c '^listening on' "$work/emulator.out")" = "${#scales[@]}" ] ||
  fail "the emulator did not start: $(cat "$work/emulator.out")"
echo "   listening on port $port"

echo "== starting tarvo-scale-server with examples/tarvo-scale-server.ini (workers' timers 100 times faster)"
(cd "$work" && TARVO_SCALE_PORT=$port TARVO_TIMER_SCALE=0.01 TARVO_PORT_BASE=$port_base \
  exec ./tarvo-scale-server >"$work/service.out" 2>&1) &
server_pid=$!
for _ in $(seq 100); do
  ctl status >/dev/null 2>&1 && break
  kill -0 "$server_pid" 2>/dev/null || fail "the service ended at start: $(cat "$work/service.out")"
  sleep 0.1
done
ctl status >/dev/null || fail "the service does not answer on port $port_base"

# The send journal's lines for import file $1.
journal() {
  cat "$work"/Log/[0-9]*.log 2>/dev/null | tr -d '\r' | grep -F "File=$1" || true
}

# Drops examples/$1 into the import folder and waits until its commands are
# done; $2 says what it is.
drop() {
  local name=$1
  echo "== $name: $2"
  # Written beside the folder and moved in whole, as a careful writer does,
  # with a modification time in the past, so the next scan takes it.
  cp "$examples/$name" "$work/.incoming"
  touch -d '-10 seconds' "$work/.incoming"
  mv "$work/.incoming" "$work/Import/$name"
  local waited=0
  while [ -e "$work/Import/$name" ] || compgen -G "$work/Query/*.cmd" >/dev/null; do
    [ $waited -lt $((wait_seconds * 10)) ] ||
      fail "$name did not reach its scales within $wait_seconds s; see $work/Log/tarvo-scale-server.log"
    sleep 0.1
    waited=$((waited + 1))
  done
  local lines
  lines=$(journal "$name")
  [ -n "$lines" ] || fail "$name was taken but no scale received it; see $work/Log/tarvo-scale-server.log"
  sed 's/^/   /' <<<"$lines"
  if grep -qv ' Status=0 ' <<<"$lines"; then
    fail "$name did not load on every scale (a status other than 0 above)"
  fi
}

drop goods.txt "a full load, delimited by ';', Windows-1251, messages, to every scale"
drop goods.txu "an update in UTF-8 with a byte-order mark: PLU 3 gets a new price, PLU 6 is added"
echo "== switching the PLU files to fixed columns"
echo "   \$ tarvoctl set ImportFileFixField=True && tarvoctl reload"
ctl set ImportFileFixField=True | sed 's/^/   /'
ctl reload | sed 's/^/   /'
drop "counter#103.plu" "a full load in fixed columns for the scale ending in .103 only"
drop scale-settings.ini "scale settings: $setting only, every other setting stays"
drop hotkeys.key "hot keys 1 to 6"
drop logo.bmp "the display logo, $(stat -c %s "$examples/logo.bmp") bytes"

# The rows of a mirror table, without its header.
rows() { tail -n +2 "$1" 2>/dev/null | grep -c . || true; }

sleep 0.5 # the emulator's tables are current 300 ms after its last request
echo "== what each emulated scale holds (from $work/scales)"
printf '%-13s %5s %9s %18s %11s %9s  %s\n' SCALE PLUS MESSAGES "$setting" "LOGO BYTES" "HOT KEYS" "FIRST PLU"
for ip in "${scales[@]}"; do
  dir=$work/scales/$ip
  value=$(sed -n "s/^$setting=//p" "$dir/settings.ini")
  logo=$(stat -c %s "$dir/logo.bmp" 2>/dev/null || echo 0)
  keys=$(awk -F'\t' 'NR > 1 && $2 != 0' "$dir/hotkeys.tsv" 2>/dev/null | wc -l)
  first=$(sed -n '2{s/\t/ /;s/\t.*//;p}' "$dir/plus.tsv")
  printf '%-13s %5s %9s %18s %11s %9s  %s\n' "$ip" "$(rows "$dir/plus.tsv")" \
    "$(rows "$dir/messages.tsv")" "$value" "$logo" "$keys" "$first"
done

echo "== \$ tarvoctl --port-base $port_base scales"
ctl scales
