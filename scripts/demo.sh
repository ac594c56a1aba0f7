#!/usr/bin/env bash
# The main job: builds everything, then runs the real launcher under Wine against a local stand-in
# for the publisher's CDN: a fresh install (with a screenshot of the splash during the download),
# the already-current course, and -uninstall. Reports what each left behind.
#   bash scripts/demo.sh            all three courses
#   bash scripts/demo.sh --keep     leave the installation in place (no -uninstall)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/common.sh
. "$here/common.sh"
cd "$REPO"
keep=""
[ "${1:-}" = "--keep" ] && keep=1

bash "$here/setup.sh"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

demo="$REPO/build/demo"
export QUENBY_WINE_ROOT="$REPO/build/demo-wine"
# shellcheck source=scripts/wine-env.sh
. "$here/wine-env.sh"
wine_prepare_prefix

server_pid="" xvfb_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  wine_stop
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  wine_start_display
  xvfb_pid=$WINE_XVFB_PID
fi

say() { printf '\n== %s\n' "$*"; }
winpath() { winepath -w "$1" 2>/dev/null; }
unixpath() { winepath -u "$1" 2>/dev/null; }

# The launcher's network trace (libcurl's verbose output on standard error) goes to
# build/demo/launcher-trace.log. A clean start: no entry, shortcuts or installation from an earlier demo.
rm -rf "$demo"
mkdir -p "$demo/cdn" "$demo/download" "$demo/package"
wine reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Larkvane.Vantrel' /f >/dev/null 2>&1 || true
desktop_dir=$(unixpath 'C:\users\root\Desktop')
startmenu_dir=$(unixpath 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs')
rm -f "$desktop_dir/QuenbySkirmora.lnk" "$startmenu_dir/QuenbySkirmora.lnk"

say "Making the sample game package (version 1)"
cp build/win64/Vantrel.exe "$demo/package/"
mkdir -p "$demo/package/data/levels"
printf 'Vantrel sample content\n' >"$demo/package/data/readme.txt"
head -c 3000000 /dev/urandom >"$demo/package/data/levels/world.pak"
(cd "$demo/package" && 7zz a -bd -bso0 -m0=LZMA2 "$demo/cdn/vantrel-1.7z" .)
ls -l "$demo/cdn/vantrel-1.7z"

say "Serving it from 127.0.0.1 (the package slowly, so the splash can be seen)"
/usr/bin/python3 "$here/serve.py" "$demo/cdn" "$demo/port" --rate 300000 >"$demo/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do [ -f "$demo/port" ] && break; sleep 0.05; done
port=$(cat "$demo/port")
printf '{\n  "ServerVersionCode": 1,\n  "WinPackageURL": "http://127.0.0.1:%s/vantrel-1.7z"\n}\n' "$port" >"$demo/cdn/version.json"
cat "$demo/cdn/version.json"

install_root='C:\Games\Vantrel'
cp build/win64/QuenbySkirmora.exe "$demo/download/"
printf '[Vantrel]\r\nlocal_path=%s\r\nversion_url=http://127.0.0.1:%s/version.json\r\n' "$install_root" "$port" \
  >"$demo/download/setting.ini"
say "setting.ini beside the launcher in the download folder"
cat "$demo/download/setting.ini"

say "Course 1: fresh install (launcher started with: -demo \"first run\")"
start=$(date +%s%N)
wine "$demo/download/QuenbySkirmora.exe" -demo "first run" 2>>"$demo/launcher-trace.log" &
launcher=$!
sleep 7
import -display "$DISPLAY" -window root "$demo/splash.png" 2>/dev/null || true
wait "$launcher" && rc=0 || rc=$?
printf 'launcher exit code %s after %s ms; splash screenshot: %s\n' "$rc" "$(( ($(date +%s%N) - start) / 1000000 ))" "$demo/splash.png"
root_unix=$(unixpath "$install_root")
sleep 1
say "Installed files below $install_root"
(cd "$root_unix" && find . -type f | sort)
say "Uninstall entry"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Larkvane.Vantrel' 2>/dev/null | tr -d '\r'
say "Shortcuts"
ls -l "$desktop_dir/QuenbySkirmora.lnk" "$startmenu_dir/QuenbySkirmora.lnk"
say "The game's record of its command line"
cat "$root_unix/game/launch-record.txt"; echo
wine taskkill /F /IM Vantrel.exe >/dev/null 2>&1 || true
sleep 1

say "Course 2: already current, from the copy in the install root (arguments: second run)"
# The copy reads the setting.ini beside itself: it needs this demo's manifest URL too.
printf '[Vantrel]\r\nversion_url=http://127.0.0.1:%s/version.json\r\n' "$port" >"$root_unix/setting.ini"
start=$(date +%s%N)
wine "$root_unix/QuenbySkirmora.exe" second run 2>>"$demo/launcher-trace.log" && rc=0 || rc=$?
printf 'launcher exit code %s after %s ms\n' "$rc" "$(( ($(date +%s%N) - start) / 1000000 ))"
sleep 1
printf 'game record: '; cat "$root_unix/game/launch-record.txt"; echo
wine taskkill /F /IM Vantrel.exe >/dev/null 2>&1 || true
sleep 1

if [ -z "$keep" ]; then
  say "Course 3: -uninstall from the copy"
  wine "$root_unix/QuenbySkirmora.exe" -uninstall 2>>"$demo/launcher-trace.log" && rc=0 || rc=$?
  printf 'launcher exit code %s\n' "$rc"
  sleep 3
  printf 'game folder: %s\n' "$([ -e "$root_unix/game" ] && echo present || echo removed)"
  printf 'launcher copy: %s\n' "$([ -e "$root_unix/QuenbySkirmora.exe" ] && echo present || echo deleted)"
  printf 'shortcuts: %s\n' "$([ -e "$desktop_dir/QuenbySkirmora.lnk" ] || [ -e "$startmenu_dir/QuenbySkirmora.lnk" ] && echo present || echo removed)"
  printf 'uninstall entry: %s\n' "$(wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Larkvane.Vantrel' >/dev/null 2>&1 && echo present || echo removed)"
fi
say "Done. To point the launcher at a real server, put version_url=http://<your CDN>/version/com.larkvane.vantrel.pcquenby.json in setting.ini."
