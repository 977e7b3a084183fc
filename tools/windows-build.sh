#!/bin/sh
# Cross-builds the Windows programs and unit tests in build-win and runs the
# tests under Wine with a Russian locale (ANSI code page 1251, OEM 866), in
# a fresh Wine prefix. Installs nothing: it needs the Debian packages
# g++-mingw-w64-x86-64-posix, googletest, wine (wine64), cmake and ccache,
# and the locale ru_RU.UTF-8 (localedef -i ru_RU -f UTF-8 ru_RU.UTF-8).
#   tools/windows-build.sh [build folder]
set -eu

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-"$source_dir/build-win"}
jobs=${JOBS:-2}

for tool in x86_64-w64-mingw32-g++-posix wine cmake ctest; do
  command -v "$tool" >/dev/null || { echo "windows-build: $tool is missing" >&2; exit 2; }
done
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  echo "windows-build: the locale ru_RU.UTF-8 is missing" >&2
  exit 2
fi

launcher=
command -v ccache >/dev/null && launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
  -DTARVO_BUILD_BENCH=OFF -DTARVO_WERROR=ON $launcher
cmake --build "$build_dir" -j"$jobs"

prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-wine.XXXXXX")
cleanup() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
# The first start creates the prefix; the tests then start quickly.
wine cmd /c exit >/dev/null 2>&1 || true

status=0
ctest --test-dir "$build_dir" --output-on-failure -j"$jobs" --timeout 300 >"$build_dir/ctest.log" 2>&1 ||
  status=$?
grep -E '^[0-9]+% tests passed|The following tests FAILED|\(Failed\)|\(Timeout\)' "$build_dir/ctest.log" ||
  true
passed=$(grep -cE 'Test +#[0-9]+: .* Passed' "$build_dir/ctest.log" || true)
failed=$(grep -cE 'Test +#[0-9]+: .*(\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception|Not Run)' \
  "$build_dir/ctest.log" || true)
echo "windows-build: $passed passed, $failed failed under Wine (log: $build_dir/ctest.log)"
exit "$status"
