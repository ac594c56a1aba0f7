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
  [ -f "$WINEPREFIX/.quenby-ready" ] && return 0
  (
    flock 9
    [ -f "$WINEPREFIX/.quenby-ready" ] && exit 0
    rm -rf "$WINEPREFIX"
    wineboot -i >"$WINE_ROOT/wineboot.log" 2>&1 || exit 1
    # Test set-up only: the launcher's font family resolves to a CJK font that Debian ships.
    # Written as a UTF-16 .reg file so that the CJK name survives whatever locale runs this.
    printf '\xff\xfe' >"$WINE_ROOT/fonts.reg"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"微软雅黑"="WenQuanYi Micro Hei"\r\n' |
      iconv -f UTF-8 -t UTF-16LE >>"$WINE_ROOT/fonts.reg"
    wine regedit /S "$(winepath -w "$WINE_ROOT/fonts.reg" 2>/dev/null)" >>"$WINE_ROOT/wineboot.log" 2>&1 || exit 1
    wineserver -w
    touch "$WINEPREFIX/.quenby-ready"
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
