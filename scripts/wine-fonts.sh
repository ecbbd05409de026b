#!/usr/bin/env bash
# Prepares the wine prefix in $WINEPREFIX for drawing the window: DirectWrite
# under wine falls back to Tahoma, which a fresh prefix lacks, so the two
# Tahoma files of Debian's fonts-wine are copied in and registered. With
# DPI (96 or 144) the prefix also reports that many pixels per inch.
#   scripts/wine-fonts.sh [DPI]
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX}"
DPI=${1:-96}

[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
FONTS="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$FONTS"
for f in tahoma.ttf tahomabd.ttf; do
    [ -f "$FONTS/$f" ] || cp "/usr/share/wine/fonts/$f" "$FONTS/$f"
done
KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
wine reg add "$KEY" /v "Tahoma (TrueType)" /t REG_SZ /d tahoma.ttf /f >/dev/null 2>&1
wine reg add "$KEY" /v "Tahoma Bold (TrueType)" /t REG_SZ /d tahomabd.ttf /f >/dev/null 2>&1
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f >/dev/null 2>&1
# Without a display, this wineserver and its desktop must be gone before a
# later run brings one: wine's desktop stays on the display it first saw.
# With one (the test run's, whose server is kept alive and never ends) the
# next wine process reads the registry from the running server.
[ -n "${DISPLAY:-}" ] || wineserver -w
