#!/bin/sh
# Runs a Windows test program under wine on a private X server: the controls create real
# windows, which wine only makes with a display. The wine prefix is this group's own, so
# that wine's desktop process is bound to this run's display, and it is stopped afterwards.
# usage: run-on-display.sh <wine-run.sh> <prefix> <program> [args...]
wine_run=$1
WINEPREFIX=$2
export WINEPREFIX
shift 2
if [ ! -f "$WINEPREFIX/.unmanaged" ]; then
  # Without a window manager, wine waits 2 s for every managed window it hides; windows
  # left to wine itself are hidden at once.
  "$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 &&
    touch "$WINEPREFIX/.unmanaged"
fi
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh -c '"$@"; rc=$?; wineserver -k 2>/dev/null; exit $rc' \
  run "$wine_run" "$@"
