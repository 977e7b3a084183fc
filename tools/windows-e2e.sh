#!/usr/bin/env bash
# The Windows build end to end under Wine: registers tarvodriver.dll with
# regsvr32, installs tarvo-scale-server.exe as the service MainTarvoService,
# starts it with "net start", drops a PLU file with Cyrillic names (under a
# Cyrillic file name) and a logo into its import folder, and waits until a
# Linux tarvo-scale-emu on a loopback address holds them. Then it checks that
# the log, the send journal and the INI are Windows-1251 text with CR LF
# line ends, stops the service with "net stop" (the INI must be saved) and
# removes it with /UNINSTALL (after which "sc query" must fail).
#
#   tools/windows-e2e.sh [WINDOWS_BIN [LINUX_BIN]]
#
# WINDOWS_BIN holds tarvo-scale-server.exe and tarvodriver.dll (default
# build-win/bin), LINUX_BIN tarvo-scale-emu (default build/bin). Needs wine
# and the locale ru_RU.UTF-8, so that Wine's ANSI code page is 1251. Runs in
# a fresh Wine prefix under /tmp, removed on success and kept on failure.
# Prints each step; exits non-zero on the first failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
win_bin=${1:-$root/build-win/bin}
linux_bin=${2:-$root/build/bin}
examples=$root/examples
wait_seconds=90

fail() {
  echo "windows-e2e: FAILED: $*" >&2
  exit 1
}
step() { echo "== $*"; }

for file in "$win_bin/tarvo-scale-server.exe" "$win_bin/tarvodriver.dll" "$linux_bin/tarvo-scale-emu"; do
  [ -f "$file" ] || fail "$file is missing; build the Windows and the Linux programs first"
done
command -v wine >/dev/null || fail "wine is not installed"
locale -a 2>/dev/null | grep -qix 'ru_RU.utf8' || fail "the locale ru_RU.UTF-8 is missing (localedef -i ru_RU -f UTF-8 ru_RU.UTF-8)"

work=$(mktemp -d /tmp/tarvo-windows-e2e.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=ru_RU.UTF-8 LANG=ru_RU.UTF-8
# The service's TCP ports, its workers' timers and (below) the emulator's
# port. A service gets the system's environment, not the caller's: they are
# written to the registry's system environment, which Wine's service
# manager reads when its session starts.
port_base=$((20000 + RANDOM % 20000))
timer_scale=0.01
emu_pid=
ok=

finish() {
  local status=$?
  trap - EXIT
  set +e
  [ -z "$emu_pid" ] || { kill "$emu_pid" 2>/dev/null; wait "$emu_pid" 2>/dev/null; }
  wineserver -k 2>/dev/null
  if [ -n "$ok" ]; then
    rm -rf "$work"
  else
    echo "windows-e2e: everything it made is in $work" >&2
  fi
  exit "$status"
}
trap finish EXIT

# A scale on its own loopback address, so that parallel runs do not meet.
scale_ip=127.$((20 + RANDOM % 200)).$((1 + RANDOM % 250)).$((1 + RANDOM % 250))
step "starting tarvo-scale-emu for $scale_ip"
"$linux_bin/tarvo-scale-emu" --state "$work/scales" --port 0 "$scale_ip" >"$work/emulator.out" 2>&1 &
emu_pid=$!
for _ in $(seq 100); do
  grep -q '^listening on' "$work/emulator.out" && break
  kill -0 "$emu_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^listening on' "$work/emulator.out" || fail "the emulator did not start: $(cat "$work/emulator.out")"
scale_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out" | head -n 1)
echo "   port $scale_port"

step "creating the Wine prefix $WINEPREFIX (LC_ALL=$LC_ALL)"
# One Wine session for the whole check: a new session would start the
# installed (automatic) service on its own, as Windows does at boot.
mkdir -p "$WINEPREFIX"
wineserver -p
wine wineboot >"$work/wineboot.out" 2>&1 || fail "wineboot failed: $(cat "$work/wineboot.out")"
acp=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null | tr -d '\r' |
  awk '$1 == "ACP" { print $3 }')
echo "   ANSI code page $acp"
[ "$acp" = 1251 ] || fail "Wine's ANSI code page is $acp, not 1251"

for pair in TARVO_PORT_BASE=$port_base TARVO_TIMER_SCALE=$timer_scale TARVO_SCALE_PORT=$scale_port; do
  wine reg add 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' \
    /v "${pair%%=*}" /t REG_SZ /d "${pair#*=}" /f >/dev/null || fail "cannot set ${pair%%=*}"
  echo "   system environment: $pair"
done
wineserver -k
wineserver -w
wineserver -p

app=$WINEPREFIX/drive_c/Tarvo
app_win='C:\Tarvo'
mkdir -p "$app"
cp "$win_bin/tarvo-scale-server.exe" "$win_bin/tarvodriver.dll" "$app/"

step "wine tarvo-scale-server.exe from the console before the driver is registered"
if TARVO_PORT_BASE=$port_base wine "$app_win\\tarvo-scale-server.exe" >"$work/console.out" 2>&1; then
  fail "the service started without its driver"
fi
log=$app/Log/tarvo-scale-server.log
for line in 'ServiceStart: Tarvo OLE-driver not found!.' 'ServiceStart: Invalid class string'; do
  grep -qF "$line" "$log" 2>/dev/null || fail "no \"$line\" in the log"
  echo "   log: $line"
done
rm -f "$app/tarvo-scale-server.ini"

step "wine regsvr32 /s $app_win\\tarvodriver.dll"
wine regsvr32 /s "$app_win\\tarvodriver.dll" || fail "regsvr32 failed"
clsid=$(wine reg query 'HKCR\TarvoDriver.TarvoOLEDriver\CLSID' /ve 2>/dev/null | tr -d '\r' |
  grep -o '{[0-9A-Fa-f-]*}' || true)
[ -n "$clsid" ] || fail "regsvr32 did not register TarvoDriver.TarvoOLEDriver"
inproc=$(wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve 2>/dev/null | tr -d '\r')
grep -qi 'tarvodriver.dll' <<<"$inproc" || fail "no InprocServer32 for $clsid: $inproc"
echo "   TarvoDriver.TarvoOLEDriver = $clsid"

step "wine tarvo-scale-server.exe /INSTALL /SILENT"
wine "$app_win\\tarvo-scale-server.exe" /INSTALL /SILENT || fail "the install failed"
# Wine's manager may answer a query only a moment after the install.
for _ in $(seq 50); do
  wine sc query MainTarvoService >"$work/sc.out" 2>&1 && break
  sleep 0.2
done
wine sc query MainTarvoService >"$work/sc.out" 2>&1 || fail "sc query after the install: $(cat "$work/sc.out")"
echo "   $(tr -d '\r' <"$work/sc.out" | grep -m1 STATE || true)"
# A second silent install of the installed service ends quietly; without
# SILENT the registration itself reports the failure.
wine "$app_win\\tarvo-scale-server.exe" /install -silent || fail "a silent install over the installed service failed"
if wine "$app_win\\tarvo-scale-server.exe" /INSTALL >"$work/install.out" 2>&1; then
  fail "a second install succeeded"
fi
grep -q 'Service "Tarvo Scale Server" failed to install with error' "$work/install.out" ||
  fail "a second install did not report: $(cat "$work/install.out")"
echo "   a second install: $(iconv -f CP1251 -t UTF-8 "$work/install.out" | tr -d '\r' | grep -m1 'failed to install')"

step "writing the INI (Windows-1251, CR LF): one scale $scale_ip, a comment in Cyrillic"
comment='; Весы магазина'
{
  printf '%s\r\n' "$comment" | iconv -f UTF-8 -t CP1251
  tr -d '\r' <"$examples/tarvo-scale-server.ini" |
    sed -e "/^Scale[0-9]*=/d" -e "s/^\[ListScales\]$/[ListScales]\nScale1=$scale_ip/" \
      -e "s/^MaxLogLevelEvent=.*/MaxLogLevelEvent=0/" -e "s/^ImportInterval=.*/ImportInterval=1/" |
    sed 's/$/\r/'
} >"$app/tarvo-scale-server.ini"
grep -q "^Scale1=$scale_ip" "$app/tarvo-scale-server.ini" || fail "the INI has no scale"

step "wine net start MainTarvoService"
# net prints in the OEM code page.
wine net start MainTarvoService | iconv -f CP866 -t UTF-8 | sed 's/^/   /' || fail "net start failed"
for _ in $(seq $((wait_seconds * 10))); do
  grep -q 'ServiceStart: Service started.' "$log" 2>/dev/null && break
  sleep 0.1
done
grep -q 'ServiceStart: Service started.' "$log" 2>/dev/null ||
  fail "the service did not start; its log: $(tr -d '\r' <"$log" 2>/dev/null | tail -n 20)"
wine sc query MainTarvoService | tr -d '\r' | grep -q 'RUNNING' || fail "sc query does not report RUNNING"
echo "   running"

plu_name='товары.txt'
step "dropping $plu_name (Windows-1251 Cyrillic names) and logo.bmp into $app_win\\Import"
mkdir -p "$app/Import"
for pair in "goods.txt:$plu_name" "logo.bmp:logo.bmp"; do
  cp "$examples/${pair%%:*}" "$app/.incoming"
  touch -d '-10 seconds' "$app/.incoming"
  mv "$app/.incoming" "$app/Import/${pair#*:}"
done

mirror=$work/scales/$scale_ip
step "waiting for the emulator's mirror in $mirror"
for _ in $(seq $((wait_seconds * 10))); do
  grep -q 'Молоко 3,2%' "$mirror/plus.tsv" 2>/dev/null && cmp -s "$examples/logo.bmp" "$mirror/logo.bmp" &&
    break
  sleep 0.1
done
grep -q 'Сыр Российский' "$mirror/plus.tsv" 2>/dev/null ||
  fail "the PLUs did not arrive; service log: $(iconv -f CP1251 -t UTF-8 "$log" | tr -d '\r' | tail -n 20)"
cmp -s "$examples/logo.bmp" "$mirror/logo.bmp" || fail "the logo did not arrive"
echo "   $(($(wc -l <"$mirror/plus.tsv") - 1)) PLUs, first: $(sed -n '2p' "$mirror/plus.tsv" | cut -f1-2)"
echo "   logo.bmp: $(stat -c %s "$mirror/logo.bmp") bytes"

# True when file $1 is Windows-1251 text with CR LF line ends holding the
# UTF-8 text $2 in Windows-1251.
is_cp1251_crlf() {
  local file=$1 text=$2 lines crlf
  lines=$(wc -l <"$file")
  crlf=$(grep -c $'\r$' "$file" || true)
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || { echo "   $file: $crlf of $lines lines end in CR LF"; return 1; }
  grep -qF "$(printf '%s' "$text" | iconv -f UTF-8 -t CP1251)" "$file" ||
    { echo "   $file: no \"$text\" in Windows-1251"; return 1; }
  ! iconv -f UTF-8 -t UTF-8 "$file" >/dev/null 2>&1 || { echo "   $file: UTF-8, not Windows-1251"; return 1; }
}

step "checking the log and the send journal"
journal=$(ls "$app"/Log/[0-9][0-9]-[0-9][0-9]-[0-9][0-9][0-9][0-9].log 2>/dev/null | head -n 1)
[ -n "$journal" ] || fail "no send journal in $app/Log"
for _ in $(seq 100); do
  [ "$(grep -c 'Status=' "$journal")" -ge 2 ] && break
  sleep 0.1
done
iconv -f CP1251 -t UTF-8 "$journal" | tr -d '\r' | sed 's/^/   /'
is_cp1251_crlf "$journal" "File=$plu_name" || fail "the journal is not Windows-1251 with CR LF"
if grep -v ' Status=0 ' "$journal" | grep -q .; then
  fail "a send failed (a status other than 0 above)"
fi
is_cp1251_crlf "$log" "$plu_name" || fail "the log is not Windows-1251 with CR LF"
echo "   both Windows-1251 with CR LF"

step "wine net stop MainTarvoService"
before=$(stat -c %Y.%s "$app/tarvo-scale-server.ini")
sleep 1 # so that a rewrite shows in the modification time
wine net stop MainTarvoService | iconv -f CP866 -t UTF-8 | sed 's/^/   /' || fail "net stop failed"
for _ in $(seq $((wait_seconds * 10))); do
  wine sc query MainTarvoService 2>/dev/null | tr -d '\r' | grep -q 'STOPPED' && break
  sleep 0.2
done
wine sc query MainTarvoService | tr -d '\r' | grep -q 'STOPPED' || fail "the service did not stop"
grep -q 'ServiceStop: Service stop.' "$log" || fail "the log has no ServiceStop"
grep -q 'ServiceDestroy: Delete internal objects.' "$log" || fail "the service object was not destroyed"
[ "$(stat -c %Y.%s "$app/tarvo-scale-server.ini")" != "$before" ] || fail "the INI was not saved at the stop"
grep -q '^ReWriteLog=' "$app/tarvo-scale-server.ini" || fail "the saved INI does not spell out every key"
is_cp1251_crlf "$app/tarvo-scale-server.ini" "$comment" || fail "the saved INI is not Windows-1251 with CR LF"
echo "   stopped; the INI was saved, Windows-1251 with CR LF"

step "wine tarvo-scale-server.exe /UNINSTALL /SILENT"
wine "$app_win\\tarvo-scale-server.exe" /UNINSTALL /SILENT || fail "the uninstall failed"
if wine sc query MainTarvoService >"$work/sc.out" 2>&1; then
  fail "sc query still finds the service: $(cat "$work/sc.out")"
fi
echo "   sc query MainTarvoService now fails"

step "wine regsvr32 /u /s tarvodriver.dll"
wine regsvr32 /u /s "$app_win\\tarvodriver.dll" || fail "regsvr32 /u failed"
if wine reg query 'HKCR\TarvoDriver.TarvoOLEDriver' >/dev/null 2>&1; then
  fail "the ProgID is still registered"
fi

ok=1
step "the Windows build passed end to end under Wine"
