#!/usr/bin/env bash
# The real program on a desktop with a window manager (Xvfb + openbox): every
# modal box is the top window when it appears and gives the focus back to its
# window, a record dialog stays above the workspace, and the chooser and the
# movement dialogs are centred when the program shows them.
#   desktop-test.sh TESSOLAN_BINARY INDEX_TEMPLATE
set -u
bin=$(readlink -f "$1")
index=$(readlink -f "$2")

if [ -z "${TSL_DESKTOP_INNER:-}" ]; then
  for tool in xvfb-run openbox xdotool xprop xwininfo wmctrl sqlite3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "desktop: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
  done
  exec env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY TSL_DESKTOP_INNER=1 \
    xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

dir=$(mktemp -d)
mkdir -m 700 "$dir/runtime"
export XDG_RUNTIME_DIR="$dir/runtime" QT_QPA_PLATFORM=xcb
openbox >/dev/null 2>&1 & wm=$!
trap 'kill -9 ${app:-} 2>/dev/null; kill $wm 2>/dev/null; rm -rf "$dir"' EXIT

passed=0
failed=0
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "desktop: FAIL: $what"; fi
}

# shellcheck source=../../tools/xdrive.sh
. "$(dirname "$(readlink -f "$0")")/../../tools/xdrive.sh"

# A ledger with two shipments of "wang", listed in the index.
cp "$index" "$dir/run.dll"
sqlite3 "$dir/run.dll" "insert into \"5\" values('2026');"
cp "$dir/run.dll" "$dir/2026.mdb"
sqlite3 "$dir/2026.mdb" "insert into \"2\" values('(1)1/5/26','wang','a','3','x','1','120');
                         insert into \"2\" values('(2)1/6/26','wang','b','2','y','2','80');"
cd "$dir"
sleep 0.5
"$bin" >"$dir/log" 2>&1 & app=$!

# The chooser stays on top; its boxes must come above it.
chooser=$(find_win '帐本选择!')
check "the chooser appears" [ -n "$chooser" ]
[ -n "$chooser" ] || { echo "desktop: 0 passed, 1 failed"; exit 1; }
click "$chooser" 48 284 # 进入帐本 with nothing selected: 请选择帐本!
box=$(find_win tessolan)
check "请选择帐本! is the top window" is_top "$box"
answer_box
check "the chooser has the focus back after 请选择帐本!" is_active "$chooser"

click "$chooser" 128 284 # 新建帐本
box=$(find_win '新建帐本!')
check "the 新建帐本! input box is the top window" is_top "$box"
xdotool type 2027; xdotool key Return
box=$(find_win tessolan)
check "帐本创建成功! is the top window" is_top "$box"
answer_box
ws=$(find_win '帐本名称:2027')
check "the new ledger is entered" [ -n "$ws" ]
wmctrl -c '帐本名称:2027'

# Moved away, the chooser comes back centred.
chooser=$(find_win '帐本选择!')
xdotool windowmove "$chooser" 5 5; sleep 0.3
click "$chooser" 20 32 # the first ledger, 2026
click "$chooser" 48 284
ws=$(find_win '帐本名称:2026')
check "the workspace is shown and centred" centred "$ws"
menu=$(( $(xdotool getwindowgeometry --shell "$ws" | sed -n 's/^HEIGHT=//p') - 465 ))

# A record dialog stays above the workspace when the workspace is clicked.
click "$ws" 16 $((menu + 17)) # btnadd on the customer book
khl=$(find_win '客户联系!')
click "$ws" 400 $((menu + 250))
check "the customer dialog stays above the workspace after a click on it" above "$khl" "$ws"
wmctrl -c '客户联系!'; sleep 0.3

# Shipment book; a movement dialog is centred when shown, not when restored.
click "$ws" 44 $((menu + 37 + 108))
click "$ws" 16 $((menu + 17))
fhb=$(find_win '发货!')
check "the shipment dialog is centred" centred "$fhb"
click "$ws" 400 $((menu + 250))
check "the shipment dialog stays above the workspace" above "$fhb" "$ws"
xdotool windowmove "$fhb" 20 20; sleep 0.3
xdotool windowminimize "$fhb"; sleep 0.4
xdotool windowactivate "$fhb" 2>/dev/null; sleep 0.4
check "a restored shipment dialog stays where the user put it" not_centred "$fhb"
wmctrl -c '发货!'; sleep 0.3

# A settlement with a report open, then one that finds nothing.
click "$ws" 292 $((menu + 22))
xdotool type wang; xdotool key Return
report=$(find_win '报表!')
check "the report window appears" [ -n "$report" ]
click "$ws" 292 $((menu + 22))
xdotool key ctrl+a; xdotool type nobody; xdotool key Return
box=$(find_win tessolan)
check "没有符合结帐条件的人或厂家! is the top window" is_top "$box"
check "the report is hidden before the message shows" hidden '报表!'
answer_box
check "the workspace has the focus back after the message" is_active "$ws"

# The export key works from the settlement box too, which has the focus when a
# ledger opens (a line edit takes Ctrl+E for the end of the line).
click "$ws" 292 $((menu + 22))
xdotool key ctrl+e
save=$(find_win '导出Excel')
check "Ctrl+E in 结帐条件 opens the export's save box" [ -n "$save" ]
[ -n "$save" ] && { xdotool key Escape; sleep 0.4; }

# A failed export from the year window: the error box is over it, and the year
# window, not the workspace, has the focus back once the save dialog is gone.
click "$ws" 400 $((menu + 250)); xdotool click 3; sleep 0.5
xdotool key Down Down Down Return # 年度统计…
yg=$(find_win '年度统计!')
eval "$(xdotool getwindowgeometry --shell "$yg")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 3 / 4)) click 3; sleep 0.5
xdotool key Down Return # 导出图片…
find_win '导出图片' >/dev/null
xdotool key ctrl+a; xdotool type "$dir/no/such/chart.png"; xdotool key Return
box=$(find_other_win '年度统计!' "$yg") # the failure box carries its window's caption
check "the export's error box is the top window" is_top "$box"
check "the year window stays above the workspace" above "$yg" "$ws"
answer_box
check "the year window has the focus back after the error" is_active "$yg"
wmctrl -c '年度统计!'; sleep 0.3

# Back to the chooser, which is centred again.
wmctrl -c '帐本名称:2026'
chooser=$(find_win '帐本选择!')
check "the chooser is centred when shown again" centred "$chooser"
wmctrl -c '帐本选择!'
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
check "closing the chooser ends the program" ended "$app"
check "the index is back as run.dll" [ -e "$dir/run.dll" ]

echo "desktop: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
