#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix and passes its exit code through.
#   scripts/wine-run.sh program.exe [arguments...]
# The prefix lives below QUENBY_WINE_ROOT (default: build/win64/wine) together with the HOME that
# Wine's shell folders are made in. A display is started when none is set.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/common.sh
. "$here/common.sh"
# shellcheck source=scripts/wine-env.sh
. "$here/wine-env.sh"

wine_prepare_prefix || exit 1

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  wine_start_display
  xvfb_pid=$WINE_XVFB_PID
fi

wine "$@"
rc=$?

if [ -n "$xvfb_pid" ]; then
  wineserver -w
  kill "$xvfb_pid" 2>/dev/null
fi
exit $rc
