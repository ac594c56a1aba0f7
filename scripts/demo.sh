#!/usr/bin/env bash
# The main job: sets the machine up and builds the launcher with both presets.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/common.sh
. "$here/common.sh"
cd "$REPO"
bash "$here/setup.sh"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "built: build/win32 and build/win64"
