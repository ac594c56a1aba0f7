#!/usr/bin/env bash
# Sets up the machine, builds both presets and runs every test under Wine.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/common.sh
. "$here/common.sh"
cd "$REPO"

bash "$here/setup.sh"

# Every include points down the layers (the builds run the same check); the check's own test
# shows that a climbing include is caught.
"$PY" "$here/check_layers.py" --self-test
"$PY" "$here/check_layers.py" "$REPO"

# The publisher's release tool, native, with its own tests; the launcher's signed-release tests
# use it to make their releases.
cmake --preset tool >build-tool.log 2>&1 || { cat build-tool.log; exit 1; }
cmake --build --preset tool
ctest --preset tool
tool="$REPO/build/tool/tools/quenby-release"

for preset in win32 win64; do
  extra=()
  [ "$preset" = win64 ] && extra=(-DQUENBY_RELEASE_TOOL="$tool")
  cmake --preset "$preset" "${extra[@]}" >"build-$preset.log" 2>&1 || { cat "build-$preset.log"; exit 1; }
  cmake --build --preset "$preset"
done
# The benchmark programs build with the rest, so they never fall behind the code they measure.
cmake --build --preset win64 --target benchmarks
rm -f build-tool.log build-win32.log build-win64.log
# The shipped 32-bit launcher cannot run here; what can be checked of it is its header.
header=$(i686-w64-mingw32-objdump -p build/win32/QuenbySkirmora.exe)
if ! grep -qi "large address aware" <<<"$header"; then
  echo "test: build/win32/QuenbySkirmora.exe is not large-address-aware" >&2
  exit 1
fi

export QUENBY_WINE_ROOT="$REPO/build/win64/wine"
# shellcheck source=scripts/wine-env.sh
. "$here/wine-env.sh"
wine_prepare_prefix
wine_trust_test_ca "$REPO/build/test-ca"

# A display of our own for the windows the tests open; everything started here is stopped
# when the run ends, whatever the outcome.
xvfb_pid=""
small_volume=""
cleanup() {
  wine_stop
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ -n "$small_volume" ]; then umount "$small_volume" 2>/dev/null || true; rmdir "$small_volume" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A small volume of this run's own, for installs that do not fit (mounting needs root).
if [ "$(id -u)" = 0 ]; then
  small_volume=$(mktemp -d "$REPO/build/small-volume.XXXXXX")
  if mount -t tmpfs -o size=16m tmpfs "$small_volume" 2>/dev/null; then
    export QUENBY_SMALL_VOLUME="$small_volume"
  else
    rmdir "$small_volume"; small_volume=""
    echo "test: no small volume could be mounted; the tests that need one are skipped" >&2
  fi
fi
wine_start_display
xvfb_pid=$WINE_XVFB_PID

ctest --preset win64 "$@"
