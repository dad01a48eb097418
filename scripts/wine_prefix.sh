# Shared by the Wine scripts (sourced): a private Wine prefix under $1 with a private HOME. Wine
# links the prefix's user folders (Documents, Desktop, ...) to the Unix home, and removing such a
# folder would reach through the link into the real home: plain folders take the links' places.
# Exports WINEPREFIX, WINEDEBUG, WINEARCH, WINEDLLOVERRIDES and HOME for the Wine commands after it.
make_private_prefix() {
  local work=$1
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$work/home"
  export HOME="$work/home"
  unset DISPLAY
  timeout 180 wineboot -i >/dev/null 2>&1
  local link
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    if [[ -L "$link" ]]; then
      rm "$link"
      mkdir "$link"
    fi
  done
  # Windows has Korean fonts and Courier New (Qt's fixed-pitch font there); a Wine prefix has
  # neither. The system's Korean font (fonts-nanum) and DejaVu Sans Mono stand in for them.
  local family
  for family in "Malgun Gothic" Gulim GulimChe Dotum Batang; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$family" /d NanumGothic /f \
      >/dev/null 2>&1
  done
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Courier New" \
    /d "DejaVu Sans Mono" /f >/dev/null 2>&1
}

# Stops the prefix's wineserver (never the default prefix's) and removes $1.
remove_private_prefix() {
  if [[ -n "${WINEPREFIX:-}" ]]; then
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
  fi
  rm -rf "$1"
}
