#!/usr/bin/env bash
# Sets up the machine, builds both presets and runs every test under Wine.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/common.sh
. "$here/common.sh"
cd "$REPO"

bash "$here/setup.sh"

for preset in win32 win64; do
  cmake --preset "$preset" >"build-$preset.log" 2>&1 || { cat "build-$preset.log"; exit 1; }
  cmake --build --preset "$preset"
done
rm -f build-win32.log build-win64.log

export QUENBY_WINE_ROOT="$REPO/build/win64/wine"
# shellcheck source=scripts/wine-env.sh
. "$here/wine-env.sh"
wine_prepare_prefix

# A display of our own for the windows the tests open; everything started here is stopped
# when the run ends, whatever the outcome.
xvfb_pid=""
cleanup() {
  wine_stop
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
wine_start_display
xvfb_pid=$WINE_XVFB_PID

ctest --preset win64 "$@"
