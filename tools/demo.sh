#!/usr/bin/env bash
# Runs the service against three emulated scales on loopback addresses,
# drops a PLU file, a logo, a scale settings file and a hot-key table into
# its import folder, and shows what each scale received.
#
#   tools/demo.sh            (after: cmake -S . -B build && cmake --build build)
#
# TARVO_BIN names another folder of executables (default build/bin).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${TARVO_BIN:-$root/build/bin}
work=$(mktemp -d /tmp/tarvo-demo.XXXXXX)
scales=(127.0.0.101 127.0.0.102 127.0.0.103)
crlf() { sed 's/$/\r/'; }

emu_pid=
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  [ -n "$emu_pid" ] && kill -TERM "$emu_pid" 2>/dev/null && wait "$emu_pid" 2>/dev/null || true
}
trap cleanup EXIT

echo "== demo folder: $work"
cp "$bin/tarvo-scale-server" "$work/"

echo "== starting the scale emulator for ${scales[*]}"
"$bin/tarvo-scale-emu" --state "$work/scales" --port 0 "${scales[@]}" >"$work/emulator.out" 2>&1 &
emu_pid=$!
for _ in $(seq 100); do
  [ "$(grep -c '^listening on' "$work/emulator.out" 2>/dev/null)" = 3 ] && break
  sleep 0.1
done
cat "$work/emulator.out"
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out" | head -n 1)
[ -n "$port" ] || { echo "the emulator did not start"; exit 1; }

{
  echo "[GlobalSettings]"
  echo "MaxLogLevelEvent=1"
  echo "ImportInterval=2"
  echo "[ListScales]"
  for i in "${!scales[@]}"; do echo "Scale$((i + 1))=${scales[$i]}"; done
  echo "[FieldsConfig]"
  echo "FieldNumber_Pos=1"
  echo "FieldName_Pos=2"
  echo "FieldPrice_Pos=3"
  echo "FieldMessageString1_Pos=4"
} | crlf >"$work/tarvo-scale-server.ini"

echo "== starting tarvo-scale-server (workers' timers sped up 100 times)"
(cd "$work" && TARVO_SCALE_PORT=$port TARVO_TIMER_SCALE=0.01 TARVO_PORT_BASE=${TARVO_PORT_BASE:-16524} \
  exec ./tarvo-scale-server) &
server_pid=$!
sleep 1

echo "== dropping files into $work/Import"
mkdir -p "$work/Import"
{
  echo '1,"Milk, 3.2%",1.29,Fresh from the farm'
  echo '2,"Bread ""Borodinsky""",0.99,Baked today'
  echo '3,Apples,2.49,'
  echo '4,Cheese,12.5,Keep cold'
} | crlf >"$work/Import/goods.txt"
head -c 1200 /dev/urandom >"$work/Import/logo.bmp"
printf '[ScaleSettings]\r\nVersion=1\r\nPrintTime=1\r\n' >"$work/Import/shop.ini"
printf '[HotKeys]\r\nVersion=1\r\nKey1=1\r\nKey2=2\r\nKey3=4\r\n' >"$work/Import/keys.key"

echo "== waiting for the queue to empty"
for _ in $(seq 300); do
  left=$(find "$work/Import" "$work/Query" -maxdepth 1 -type f 2>/dev/null | wc -l)
  [ "$left" = 0 ] && break
  sleep 0.2
done

for ip in "${scales[@]}"; do
  echo "== scale $ip"
  echo "-- plus.tsv"
  cut -f1-5 "$work/scales/$ip/plus.tsv"
  echo "-- messages.tsv (first lines)"
  cut -f1-2 "$work/scales/$ip/messages.tsv"
  echo "-- settings: $(grep -E '^PrintTime=' "$work/scales/$ip/settings.ini")"
  echo "-- logo.bmp: $(stat -c %s "$work/scales/$ip/logo.bmp" 2>/dev/null || echo missing) bytes"
  echo "-- hot keys: $(sed -n '2,4p' "$work/scales/$ip/hotkeys.tsv" 2>/dev/null | tr '\t\n' '= ')"
done

echo "== send journal"
cat "$work"/Log/[0-9]*.log | tr -d '\r'

echo "== stopping the service"
kill -TERM "$server_pid"
wait "$server_pid" || true
server_pid=
echo "== the last lines of the service log"
iconv -f CP1251 -t UTF-8 "$work/Log/tarvo-scale-server.log" | tr -d '\r' | tail -n 12
echo "== everything the demo made is in $work"
