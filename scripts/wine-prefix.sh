#!/usr/bin/env bash
# Makes a 32-bit Wine prefix when it is missing, gives it Wine's own fonts
# and links the dialogs' fonts to a font with Japanese glyphs. Used by
# wine-run.sh and by the Windows demo.
#
#   wine-prefix.sh DIR
set -eu
prefix="$1"
export WINEPREFIX="$prefix" WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$(dirname "$prefix")"
fonts="$prefix/drive_c/windows/Fonts"
wine_fonts=/usr/share/wine/fonts
# Tahoma (the dialogs' font) and Tahoma Bold (their captions) have no
# Japanese glyphs: Wine draws such text, as the open-file dialog's caption
# "ファイルを開く", in the first font linked to the face that has them. IPA
# Gothic (fonts-ipafont-gothic) is found through fontconfig where Debian puts
# it. Wine looks links up by the face's full name: the bold face needs one
# of its own. Edit fields shape their text by script, and take the
# characters their font lacks from the face Wine falls back to for the
# script, SimSun for Japanese (kanji and kana alike); it is not installed,
# and is drawn in what is linked to it.
links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
japanese='ipag.ttf,IPAGothic'
linked_faces=(Tahoma "Tahoma Bold" SimSun)
# Every face, so that a prefix made before a face was added gets it too.
# (Wine writes the registry to system.reg some seconds after a change.)
linked() {
  local face
  for face in "${linked_faces[@]}"; do
    grep -sqF "\"$face\"=str(7):\"$japanese" "$prefix/system.reg" || return 1
  done
}
[ -f "$prefix/system.reg" ] && { [ ! -d "$wine_fonts" ] || [ -f "$fonts/tahoma.ttf" ]; } && linked && exit 0

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
# The Japanese font goes first, before the links Wine sets up (to fonts of
# Windows that are not here). Output goes to a file: the Wine server that
# `wine reg` may start keeps what it inherits open.
if ! linked; then
  answer="$(mktemp "${TMPDIR:-/tmp}/wine-prefix.XXXXXX")"
  for face in "${linked_faces[@]}"; do
    wine reg query "$links" /v "$face" </dev/null >"$answer" 2>/dev/null 9>&- || true
    current="$(tr -d '\r' <"$answer" | sed -n "s/^ *$face *REG_MULTI_SZ *//p")"
    case "$current" in *"$japanese"*) continue ;; esac
    wine reg add "$links" /v "$face" /t REG_MULTI_SZ /d "$japanese${current:+\\0$current}" /f \
      </dev/null >/dev/null 2>&1 9>&- || true
  done
  rm -f "$answer"
fi
flock -u 9
