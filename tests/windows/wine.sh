# Wine for the Windows program's tests: a prefix of its own, made once and
# removed on exit, in the Spanish locale of Brisol's users (code pages 1252
# and 850), without the Mono and Gecko prompts. Source it; it defines
# wine_start_prefix and wine_run. Exits 77 (skipped) where wine is missing.

# shellcheck source=tests/windows/find-wine.sh
. "$(dirname "${BASH_SOURCE[0]}")/find-wine.sh"

export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
export LANG=es_ES.UTF-8 LC_ALL=es_ES.UTF-8
# Qt for Windows chooses its own platform plugin.
unset QT_QPA_PLATFORM

wine_prefixes=()
wine_cleanup() {
  local prefix
  for prefix in "${wine_prefixes[@]}"; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
  done
}

# A fresh prefix, exported as WINEPREFIX, ready when this returns.
wine_start_prefix() {
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/brisol-wine.XXXXXX")
  export WINEPREFIX
  wine_prefixes+=("$WINEPREFIX")
  "$wine_binary" wineboot -i >/dev/null 2>&1
  wineserver -w
}

wine_run() {
  "$wine_binary" "$@"
}
