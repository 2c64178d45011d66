#!/usr/bin/env bash
# Makes a 32-bit Wine prefix when it is missing and gives it Wine's own
# fonts. Used by wine-run.sh and by the Windows demo.
#
#   wine-prefix.sh DIR
set -eu
prefix="$1"
export WINEPREFIX="$prefix" WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$(dirname "$prefix")"
fonts="$prefix/drive_c/windows/Fonts"
wine_fonts=/usr/share/wine/fonts
[ -f "$prefix/system.reg" ] && { [ ! -d "$wine_fonts" ] || [ -f "$fonts/tahoma.ttf" ]; } && exit 0

# Several programs may start at once: one of them does the work.
exec 9>"$prefix.lock"
flock 9
# (The Wine server that wineboot starts outlives it: it must not hold the lock.)
[ -f "$prefix/system.reg" ] || wineboot -i >/dev/null 2>&1 9>&- || true
# Wine 8 as Debian packages it finds the fonts of fonts-wine only in the
# prefix's Fonts folder, and wineboot does not put them there: without them
# dialogs are drawn in whatever fonts the system substitutes. Each file
# arrives whole, for programs that already run in the prefix.
if [ -d "$wine_fonts" ] && [ -d "$fonts" ] && [ ! -f "$fonts/tahoma.ttf" ]; then
  staged="$(mktemp -d "$prefix/drive_c/windows/fonts.XXXXXX")"
  cp "$wine_fonts"/* "$staged/"
  for file in "$staged"/*; do
    [ -e "$fonts/${file##*/}" ] || mv "$file" "$fonts/"
  done
  rm -rf "$staged"
fi
flock -u 9
