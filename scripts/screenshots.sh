#!/usr/bin/env bash
# The README's pictures: scripts/screenshots.sh BUILD_DIR
# Runs the tour (tools/tour.sh: the real program driven from a cold start under
# Xvfb and openbox) and copies the pictures the README shows into
# docs/screenshots, each cut down to the windows on it (the empty desktop
# around them trimmed away).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
out="$root/docs/screenshots"
tour="$build/tour"
bash "$root/tools/tour.sh" "$build" "$tour"
mkdir -p "$out"
# README picture <- the tour's step
while read -r picture step; do
  shot=$(ls "$tour"/[0-9][0-9]-"$step".png 2>/dev/null | head -1)
  if [ -z "$shot" ]; then
    echo "screenshots: the tour took no picture of $step" >&2
    exit 1
  fi
  if [ "$picture" = statement ]; then
    cp "$shot" "$out/$picture.png" # a whole page, as the PDF shows it
  else
    /usr/bin/convert "$shot" -trim +repage "$out/$picture.png"
  fi
done <<'EOF2'
chooser chooser-listed
workspace shipments
settlement settlement
report overall
statement statement
period-box period-box
yearglance yearglance
yearglance-names yearglance-names
restore restore
datepicker datepicker
tools-menu tools-menu
print-preview print-preview
chooser-ledger-menu chooser-menu-ledger
chooser-deleted deleted
restore-deleted restore-deleted
restore-folder restore-folder
EOF2
echo "screenshots: written to $out"
