#!/usr/bin/env bash
# The real program on a desktop with a window manager (Xvfb + openbox): every
# modal box is the top window when it appears and gives the focus back to its
# window, a record dialog stays above the workspace, and the chooser and the
# movement dialogs are centred when the program shows them. From a second cold
# start it reads the screen through the program's dump switch: the grid shows
# whole texts on the first entry and widens for a longer row, and a record
# dialog opened under the report is in front with the focus in its first field.
#   desktop-test.sh TESSOLAN_BINARY INDEX_TEMPLATE
set -u
bin=$(readlink -f "$1")
index=$(readlink -f "$2")

if [ -z "${TSL_DESKTOP_INNER:-}" ]; then
  for tool in xvfb-run openbox xdotool xprop xwininfo wmctrl sqlite3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "desktop: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
  done
  locale -a 2>/dev/null | grep -qix 'zh_CN.utf8' ||
    { echo "desktop: the zh_CN.UTF-8 locale is missing (scripts/install-deps.sh generates it)"; exit 1; }
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

# A ledger with two shipments of "wang" and ten customers of long names, listed in the index.
cp "$index" "$dir/run.dll"
sqlite3 "$dir/run.dll" "insert into \"5\" values('2026');"
cp "$dir/run.dll" "$dir/2026.mdb"
sqlite3 "$dir/2026.mdb" "insert into \"2\" values('(1)1/5/26','wang','a','3','x','1','120');
                         insert into \"2\" values('(2)1/6/26','wang','b','2','y','2','80');"
for i in $(seq 10); do
  sqlite3 "$dir/2026.mdb" "insert into \"1\" values('杭州四季青服装有限公司第${i}分公司',
    '浙江省嘉兴市桐乡市濮院镇毛衫城工业园区三十八号后门左手第二间仓库楼上','314500','0573-88881234','13900000000');"
done
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 TSL_SCREEN_DUMP="$dir/screen"

# What the program shows, as it knows it: the active window and focused control,
# each grid's widths and cap, each cell in sight (see widgets/screendump.h).
screen() {
  rm -f "$dir/screen"
  kill -USR1 "$app"
  for _ in $(seq 50); do [ -e "$dir/screen" ] && break; sleep 0.1; done
  cat "$dir/screen" 2>/dev/null
}
# The cells of the window's grid1 in sight: "row column text" of those cut while
# their column is below the cap; with "all", every cell in sight.
grid_cells() { # grid_cells TITLE [all]
  screen | awk -F '\t' -v t="$1" -v all="${2:-}" '
    $1 == "grid" { mine = ($2 == t && $3 == "grid1"); sub(/^cap=/, "", $4); cap = $4 + 0 }
    $1 == "cell" && mine && (all != "" || ($4 < cap && $5 < $6)) { print $2, $3, $7 }'
}
column_width() { # column_width TITLE COLUMN
  screen | awk -F '\t' -v t="$1" -v c="$2" '
    $1 == "grid" && $2 == t && $3 == "grid1" { sub(/^widths=/, "", $5); split($5, w, ","); print w[c + 1] }'
}
no_cut_cells() { # no_cut_cells TITLE: some cells in sight, none of them cut
  local cut
  cut=$(grid_cells "$1")
  [ -z "$cut" ] || echo "desktop: cut in $1: $(echo "$cut" | head -3 | tr '\n' '|')"
  [ -z "$cut" ] && [ -n "$(grid_cells "$1" all)" ]
}
focused_on() { # focused_on WINDOW_TITLE CONTROL: the program's active window and its focused control
  [ "$(screen | awk -F '\t' '$1 == "active" { print $2 "/" $3 }')" = "$1/$2" ]
}
greater() { [ -n "$1" ] && [ -n "$2" ] && [ "$1" -gt "$2" ]; }
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

# A second cold start; the first entry goes to the ledger of long names.
"$bin" >>"$dir/log" 2>&1 & app=$!
chooser=$(find_win '帐本选择!')
click "$chooser" 20 32
click "$chooser" 48 284
ws=$(find_win '帐本名称:2026')
check "no text in sight is cut on the first entry where its column has room" no_cut_cells '帐本名称:2026'

# The empty purchase book: the first row added shows whole. The focus starts in
# the source's box (typing lands there), and Enter confirms.
click "$ws" 44 $((menu + 37 + 180))
narrow=$(column_width '帐本名称:2026' 1)
click "$ws" 16 $((menu + 17))
jhb=$(find_win '进货!')
check "the purchase dialog opens with the focus in its first field" focused_on '进货!' edly
xdotool type 'Hangzhou Siji Qing Knitwear Trading Company'; xdotool key Return; sleep 0.5
check "Enter confirms the purchase dialog" hidden '进货!'
check "a column grows when an add writes a longer text" greater "$(column_width '帐本名称:2026' 1)" "$narrow"
check "the added row shows whole" no_cut_cells '帐本名称:2026'

# A record dialog opened while the report is up comes in front of it, with the
# focus, and stays in front when the report is clicked.
click "$ws" 44 $((menu + 37 + 108))
click "$ws" 292 $((menu + 22))
xdotool key ctrl+a; xdotool type wang; xdotool key Return
report=$(find_win '报表!')
click "$ws" 16 $((menu + 17))
fhb=$(find_win '发货!')
check "the shipment dialog opened under the report is the top window" is_top "$fhb"
check "the shipment dialog opened under the report has the focus" is_active "$fhb"
check "its focus is in its first field" focused_on '发货!' edname
click "$report" 10 100
check "the dialog stays in front when the report is clicked" above "$fhb" "$report"
check "the report stays above the workspace" above "$report" "$ws"
wmctrl -c '报表!'; sleep 0.5
click "$ws" 400 $((menu + 250))
check "with the report closed, the dialog stays above the workspace" above "$fhb" "$ws"
wmctrl -c '发货!'; sleep 0.3

# The year window and About, opened from the workspace's menus while the report
# is up, come in front of it too.
click "$ws" 292 $((menu + 22))
xdotool key ctrl+a; xdotool type wang; xdotool key Return
report=$(find_win '报表!')
click "$ws" 86 9; xdotool key y; sleep 1
year=$(find_win '年度统计!')
check "the year window opened under the report is the top window" is_top "$year"
check "the year window stands above the report" above "$year" "$report"
wmctrl -c '年度统计!'; sleep 0.3
click "$ws" 142 9; xdotool key z; sleep 0.5
about=$(find_win '关于!')
check "About opened under the report is the top window" is_top "$about"
wmctrl -c '关于!'; sleep 0.2
wmctrl -c '报表!'; sleep 0.3
wmctrl -c '帐本名称:2026'
chooser=$(find_win '帐本选择!')
wmctrl -c '帐本选择!'
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
check "the second run ends" ended "$app"

echo "desktop: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
