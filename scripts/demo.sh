#!/usr/bin/env bash
# The main job: builds everything, makes a key pair and signed releases with the publisher's tool,
# builds a launcher with that public key, then runs it under Wine against a local stand-in for the
# publisher's CDN: a fresh install (with a screenshot of the splash during the download), the
# already-current course, a tampered release refused with the game kept, an update by ranges over
# HTTPS (the bytes fetched against the package) that also brings launcher build 2 into the install
# root, and -uninstall. Reports what each left behind.
#   bash scripts/demo.sh            every course
#   bash scripts/demo.sh --keep     leave the installation in place (no -uninstall)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/common.sh
. "$here/common.sh"
cd "$REPO"
keep=""
[ "${1:-}" = "--keep" ] && keep=1

bash "$here/setup.sh"
for preset in win32 win64 tool; do
  cmake --preset "$preset" >/dev/null 2>&1
  cmake --build --preset "$preset"
done
tool="$REPO/build/tool/tools/quenby-release"

demo="$REPO/build/demo"
# The demo publisher's key pair, kept in the build folder across demo runs (never committed).
keys="$REPO/build/demo-keys"
mkdir -p "$keys"
if [ ! -f "$keys/public.txt" ]; then
  "$tool" keygen --secret-key "$keys/secret.key" >"$keys/public.txt"
fi
public_key=$(cat "$keys/public.txt")
# A launcher built with that key, apart from the test build.
cmake --preset win64 -B "$REPO/build/demo-launcher" -DRELEASE_PUBLIC_KEY="$public_key" >/dev/null 2>&1
cmake --build "$REPO/build/demo-launcher" --target QuenbySkirmora message_box_answerer
# The same launcher as build 2, which release 3 names for players' install roots.
cmake --preset win64 -B "$REPO/build/demo-launcher-2" -DRELEASE_PUBLIC_KEY="$public_key" -DLAUNCHER_BUILD=2 >/dev/null 2>&1
cmake --build "$REPO/build/demo-launcher-2" --target QuenbySkirmora
export QUENBY_WINE_ROOT="$REPO/build/demo-wine"
# shellcheck source=scripts/wine-env.sh
. "$here/wine-env.sh"
wine_prepare_prefix
# The demo's own certificate authority, trusted in its prefix, for the course served over HTTPS.
wine_trust_test_ca "$REPO/build/demo-ca"

server_pid="" tls_pid="" xvfb_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  if [ -n "$tls_pid" ]; then kill "$tls_pid" 2>/dev/null || true; fi
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
mkdir -p "$demo/download" "$demo/package"
wine reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Larkvane.Vantrel' /f >/dev/null 2>&1 || true
desktop_dir=$(unixpath 'C:\users\root\Desktop')
startmenu_dir=$(unixpath 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs')
rm -f "$desktop_dir/QuenbySkirmora.lnk" "$startmenu_dir/QuenbySkirmora.lnk"

say "The sample game, version 1"
cp build/win64/Vantrel.exe "$demo/package/"
mkdir -p "$demo/package/data/levels"
printf 'Vantrel sample content\n' >"$demo/package/data/readme.txt"
head -c 4500000 /dev/urandom >"$demo/package/data/levels/world.pak"

say "Serving build/demo/cdn from 127.0.0.1 (packages slowly, so the splash can be seen)"
mkdir -p "$demo/cdn"
/usr/bin/python3 "$here/serve.py" "$demo/cdn" "$demo/port" --rate 300000 --log "$demo/requests.log" \
  >"$demo/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do [ -f "$demo/port" ] && break; sleep 0.05; done
port=$(cat "$demo/port")
base="http://127.0.0.1:$port/version"
# The same folder over HTTPS, with a certificate for localhost from the demo's authority.
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=localhost" \
  -keyout "$demo/tls.key" -out "$demo/tls.csr" 2>/dev/null
printf 'subjectAltName=DNS:localhost\n' >"$demo/tls.ext"
openssl x509 -req -in "$demo/tls.csr" -CA "$QUENBY_TEST_CA/ca.pem" -CAkey "$QUENBY_TEST_CA/ca.key" \
  -CAcreateserial -CAserial "$demo/ca.srl" -days 2 -extfile "$demo/tls.ext" -out "$demo/tls.pem" 2>/dev/null
/usr/bin/python3 "$here/serve.py" "$demo/cdn" "$demo/tls-port" --tls "$demo/tls.pem" "$demo/tls.key" \
  --log "$demo/requests.log" >"$demo/tls-server.log" 2>&1 &
tls_pid=$!
for _ in $(seq 1 100); do [ -f "$demo/tls-port" ] && break; sleep 0.05; done
tls_base="https://localhost:$(cat "$demo/tls-port")/version"

say "Making release 1 with the publisher's tool, verifying it, and uploading it"
"$tool" make --secret-key "$keys/secret.key" --game "$demo/package" --version 1 --base-url "$base" \
  --out "$demo/release-1"
"$tool" verify --public-key "$public_key" --release "$demo/release-1"
cp -r "$demo/release-1" "$demo/cdn/version"
cat "$demo/cdn/version/com.larkvane.vantrel.pcquenby.json"

install_root='C:\Games\Vantrel'
cp build/demo-launcher/QuenbySkirmora.exe "$demo/download/"
printf '[Vantrel]\r\nlocal_path=%s\r\nversion_url=%s/com.larkvane.vantrel.pcquenby.json\r\n' "$install_root" "$base" \
  >"$demo/download/setting.ini"
say "setting.ini beside the launcher in the download folder"
cat "$demo/download/setting.ini"

say "Course 1: fresh install (launcher started with: -demo \"first run\")"
# A fresh install: what an earlier demo left in its own prefix goes first.
rm -rf "$(unixpath "$install_root")"
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
printf '[Vantrel]\r\nversion_url=%s/com.larkvane.vantrel.pcquenby.json\r\n' "$base" >"$root_unix/setting.ini"
start=$(date +%s%N)
wine "$root_unix/QuenbySkirmora.exe" second run 2>>"$demo/launcher-trace.log" && rc=0 || rc=$?
printf 'launcher exit code %s after %s ms\n' "$rc" "$(( ($(date +%s%N) - start) / 1000000 ))"
sleep 1
printf 'game record: '; cat "$root_unix/game/launch-record.txt"; echo
wine taskkill /F /IM Vantrel.exe >/dev/null 2>&1 || true
sleep 1

say "Course 3: release 2 with its package altered on the way (one byte of the changed file's block), refused"
printf 'Vantrel sample content, release 2\n' >"$demo/package/data/readme.txt"
"$tool" make --secret-key "$keys/secret.key" --game "$demo/package" --version 2 --base-url "$base" \
  --out "$demo/release-2" --previous "$demo/release-1/com.larkvane.vantrel.pcquenby.json" 2>/dev/null
rm -rf "$demo/cdn/version" && cp -r "$demo/release-2" "$demo/cdn/version"
# The byte flipped lies in the block of the one file that changed, which the update fetches.
/usr/bin/python3 - "$demo/cdn/version/Vantrel-2.7z" "$demo/cdn/version/Vantrel-2.index" <<'PY'
import sys
package, index = sys.argv[1], sys.argv[2]
lines = open(index, encoding="utf-8").read().splitlines()
folders = [l.split(" ") for l in lines if l.startswith("folder ")]
block = next(int(l.split(" ")[1]) for l in lines if l.startswith("file ") and l.endswith(" data/readme.txt"))
offset, length = int(folders[block][1]), int(folders[block][2])
b = bytearray(open(package, "rb").read())
b[offset + length // 2] ^= 1
open(package, "wb").write(b)
PY
printf 'the tool says of the altered release: '
"$tool" verify --public-key "$public_key" --release "$demo/cdn/version" 2>&1 | tail -n 1 || true
(cd "$root_unix/game" && find . -type f -exec sha256sum {} + | sort) >"$demo/game-before.txt"
wine build/demo-launcher/tests/message_box_answerer.exe "$(winpath "$demo/message.txt")" 120000 &
answerer=$!
wine "$root_unix/QuenbySkirmora.exe" 2>>"$demo/launcher-trace.log" && rc=0 || rc=$?
wait "$answerer" || true
printf 'launcher exit code %s; its message: %s\n' "$rc" "$(cat "$demo/message.txt" 2>/dev/null)"
(cd "$root_unix/game" && find . -type f -exec sha256sum {} + | sort) >"$demo/game-after.txt"
if cmp -s "$demo/game-before.txt" "$demo/game-after.txt"; then
  echo "the installed game (version 1) is byte for byte as it was"
else
  echo "THE INSTALLED GAME CHANGED"; exit 1
fi
printf 'beside the game: %s\n' "$(cd "$root_unix" && ls -d game.new game.old 2>/dev/null || echo nothing)"

say "Course 4: release 3, served over HTTPS, changes the readme and adds a file (fetched by ranges) and names launcher build 2"
mkdir -p "$demo/package/data/notes"
printf 'Vantrel sample content, release 3\n' >"$demo/package/data/readme.txt"
printf 'new in release 3\n' >"$demo/package/data/notes/changes.txt"
printf '[Vantrel]\r\nversion_url=%s/com.larkvane.vantrel.pcquenby.json\r\n' "$tls_base" >"$root_unix/setting.ini"
"$tool" make --secret-key "$keys/secret.key" --game "$demo/package" --version 3 --base-url "$tls_base" \
  --launcher build/demo-launcher-2/QuenbySkirmora.exe --launcher-build 2 \
  --out "$demo/release-3" --previous "$demo/release-2/com.larkvane.vantrel.pcquenby.json" 2>/dev/null
rm -rf "$demo/cdn/version" && cp -r "$demo/release-3" "$demo/cdn/version"
: >"$demo/requests.log"
wine "$root_unix/QuenbySkirmora.exe" third run 2>>"$demo/launcher-trace.log" && rc=0 || rc=$?
sleep 1
wine taskkill /F /IM Vantrel.exe >/dev/null 2>&1 || true
printf 'launcher exit code %s; the package requests:\n' "$rc"
grep 'Vantrel-3.7z' "$demo/requests.log" || true
fetched=$(grep 'Vantrel-3.7z' "$demo/requests.log" | sed 's/.*sent=//' | awk '{s += $1} END {print s + 0}')
printf 'fetched %s bytes of the package'"'"'s %s; the readme now says: %s\n' "$fetched" \
  "$(stat -c %s "$demo/release-3/Vantrel-3.7z")" "$(cat "$root_unix/game/data/readme.txt")"
if cmp -s "$root_unix/QuenbySkirmora.exe" build/demo-launcher-2/QuenbySkirmora.exe; then
  echo "the launcher copy in $install_root is now build 2 (the file release 3 names); the shortcuts still start it"
else
  echo "THE LAUNCHER COPY WAS NOT UPDATED"; exit 1
fi

if [ -z "$keep" ]; then
  say "Course 5: -uninstall from the copy"
  wine "$root_unix/QuenbySkirmora.exe" -uninstall 2>>"$demo/launcher-trace.log" && rc=0 || rc=$?
  printf 'launcher exit code %s\n' "$rc"
  sleep 6
  printf 'game folder: %s\n' "$([ -e "$root_unix/game" ] && echo present || echo removed)"
  printf 'launcher copy: %s\n' "$([ -e "$root_unix/QuenbySkirmora.exe" ] && echo present || echo deleted)"
  printf 'shortcuts: %s\n' "$([ -e "$desktop_dir/QuenbySkirmora.lnk" ] || [ -e "$startmenu_dir/QuenbySkirmora.lnk" ] && echo present || echo removed)"
  printf 'uninstall entry: %s\n' "$(wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Larkvane.Vantrel' >/dev/null 2>&1 && echo present || echo removed)"
fi
say "Done. To point the launcher at a real server, put version_url=http://<your CDN>/version/com.larkvane.vantrel.pcquenby.json in setting.ini."
