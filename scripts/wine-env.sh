# The project's Wine environment (sourced). Everything Wine writes stays below $WINE_ROOT.
WINE_ROOT="${QUENBY_WINE_ROOT:-$REPO/build/win64/wine}"
export HOME="$WINE_ROOT/home"
export WINEPREFIX="$WINE_ROOT/prefix"
export WINEDEBUG=-all
# No Mono or Gecko installers, nothing written into the Linux desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

# Creates the prefix once (several runs may race for it: one builds, the others wait).
wine_prepare_prefix() {
  mkdir -p "$HOME" || return 1
  [ -f "$WINEPREFIX/.quenby-ready-2" ] && return 0
  (
    flock 9
    [ -f "$WINEPREFIX/.quenby-ready-2" ] && exit 0
    rm -rf "$WINEPREFIX"
    wineboot -i >"$WINE_ROOT/wineboot.log" 2>&1 || exit 1
    # Test set-up only: the launcher's font family resolves to a CJK font that Debian ships, and
    # a program that crashes ends with a backtrace on stderr instead of waiting in a crash dialog
    # on the virtual display until the run's time is up.
    # Written as a UTF-16 .reg file so that the CJK name survives whatever locale runs this.
    printf '\xff\xfe' >"$WINE_ROOT/fonts.reg"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"微软雅黑"="WenQuanYi Micro Hei"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n' |
      iconv -f UTF-8 -t UTF-16LE >>"$WINE_ROOT/fonts.reg"
    wine regedit /S "$(winepath -w "$WINE_ROOT/fonts.reg" 2>/dev/null)" >>"$WINE_ROOT/wineboot.log" 2>&1 || exit 1
    wineserver -w
    touch "$WINEPREFIX/.quenby-ready-2"
  ) 9>"$WINE_ROOT/.prefix.lock"
}

# Starts Xvfb on a free display number; sets DISPLAY and WINE_XVFB_PID.
wine_start_display() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >"$WINE_ROOT/xvfb-$n.log" 2>&1 &
  WINE_XVFB_PID=$!
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  return 0
}

# Stops what Wine left running for this prefix.
wine_stop() {
  # No server left to stop is fine (and must not end a caller that runs with errexit).
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
}

# A certificate authority of this run's own, made now and trusted in the prefix the way Windows
# stores a root (the registry's SystemCertificates\Root, read by the system's TLS); the one an
# earlier run trusted goes first. The tests sign their servers' certificates with it:
# QUENBY_TEST_CA names its folder (ca.pem, ca.key).
wine_trust_test_ca() {
  local dir=$1 store='HKLM\Software\Microsoft\SystemCertificates\Root\Certificates'
  local mark="$WINEPREFIX/quenby-test-ca.sha1"
  if [ -f "$mark" ]; then
    wine reg delete "$store\\$(cat "$mark")" /f >/dev/null 2>&1 || true
  fi
  rm -rf "$dir" && mkdir -p "$dir"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=Quenby launcher test CA $(date +%s)" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  openssl x509 -in "$dir/ca.pem" -outform DER -out "$dir/ca.der"
  local sha1 blob
  sha1=$(openssl dgst -sha1 -r "$dir/ca.der" | cut -d' ' -f1 | tr 'a-f' 'A-F')
  blob=$(/usr/bin/python3 -c 'import struct, sys; d = open(sys.argv[1], "rb").read(); print((struct.pack("<III", 32, 1, len(d)) + d).hex())' "$dir/ca.der")
  wine reg add "$store\\$sha1" /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1
  echo "$sha1" >"$mark"
  wineserver -k 2>/dev/null || true  # the system's TLS reads the roots when it starts
  export QUENBY_TEST_CA="$dir"
}
