#!/usr/bin/env bash
# Takes the README's screenshots again: scripts/screenshots.sh BUILD_DIR
# Under Xvfb with openbox for the title bars, the screenshot tool builds the
# program's windows in a scratch folder with a seeded ledger and saves the
# chooser, the workspace, a settlement report and the overall report into
# docs/screenshots; then a statement page of the same ledger from the exporter.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
out="$root/docs/screenshots"
for tool in xvfb-run openbox; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "screenshots: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done
if [ ! -x "$build/tools/shots" ]; then
  echo "screenshots: $build/tools/shots is not built" >&2
  exit 1
fi
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime" "$work/folder"

# The tool talks to the X server, whatever the caller's platform setting.
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work/runtime" \
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    openbox >/dev/null 2>&1 & wm=$!
    sleep 1
    rc=0
    QT_QPA_PLATFORM=xcb "$1" "$2" "$3" "$4" || rc=$?
    kill "$wm" 2>/dev/null || true
    wait "$wm" 2>/dev/null || true
    exit "$rc"
  ' screenshots "$build/tools/shots" "$build/run.dll" "$work/folder" "$out"
# A statement page of the same ledger, as the exporter writes it.
"$build/cli/tessolan-export" "$work/folder/2026年的帐本.mdb" --book 2 --name 王丽 --pdf "$work/statement.pdf"
pdftoppm -r 90 -png -singlefile -f 1 -l 1 "$work/statement.pdf" "$out/statement"
echo "screenshots: written to $out"
