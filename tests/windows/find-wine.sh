# The wine to run Windows programs with, as $wine_binary; sourced by the
# scripts that run them. Exits 77 (skipped) where wine is missing.
wine_binary=
for candidate in wine wine64; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine_binary=$(command -v "$candidate")
    break
  fi
done
if [ -z "$wine_binary" ]; then
  echo "SKIP: wine is not installed (scripts/setup installs it)"
  exit 77
fi
