# Sourced by the scripts that run Windows programs: sets wine to the 64-bit Wine loader, or to ""
# when there is none.
wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then
    wine=$candidate
    break
  fi
done
