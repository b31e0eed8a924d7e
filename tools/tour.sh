#!/usr/bin/env bash
# The tour: the path a new user takes, from a cold start, on a Chinese desktop
# (zh_CN.UTF-8, openbox, 1366 x 768), with a picture of the whole screen at
# every step. Everything goes through the real program's windows, mouse and
# keys (xdotool): no resizing, no second entry, no rows written behind its back.
#   tools/tour.sh BUILD_DIR [OUT_DIR]      (OUT_DIR defaults to BUILD_DIR/tour)
# TOUR_DISPLAY picks the X display number to start from (default: any free one).
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:-build}" && pwd)
out=${2:-$build/tour}

if [ -z "${TSL_TOUR_INNER:-}" ]; then
  for tool in xvfb-run openbox xdotool xprop xwininfo xclip wmctrl import pdftoppm; do
    command -v "$tool" >/dev/null 2>&1 || { echo "tour: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
  done
  locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' ||
    { echo "tour: the zh_CN.UTF-8 locale is missing (scripts/install-deps.sh generates it)"; exit 1; }
  for f in "$build/app/tessolan" "$build/run.dll"; do
    [ -e "$f" ] || { echo "tour: $f is not built"; exit 1; }
  done
  mkdir -p "$out"
  rm -f "$out"/[0-9][0-9]-*.png
  exec env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY TSL_TOUR_INNER=1 \
    xvfb-run -a ${TOUR_DISPLAY:+-n "$TOUR_DISPLAY"} -s "-screen 0 1366x768x24" bash "$0" "$build" "$out"
fi

# shellcheck source=xdrive.sh
. "$here/xdrive.sh"

work=$(mktemp -d)
mkdir -m 700 "$work/runtime"
mkdir -p "$work/home/Documents" "$work/share"
# A fresh user: an empty data folder, documents at home, a Chinese desktop.
export HOME="$work/home" XDG_DATA_HOME="$work/share" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 LANGUAGE=zh_CN
openbox >/dev/null 2>&1 & wm=$!
trap 'kill ${app:-} 2>/dev/null; sleep 0.5; kill -9 ${app:-} 2>/dev/null; kill $wm 2>/dev/null; rm -rf "$work"' EXIT
sleep 1

step=0
failed=0
# shot NAME WHAT: the whole screen as it stands, numbered.
shot() {
  step=$((step + 1))
  local file
  file=$(printf '%s/%02d-%s.png' "$out" "$step" "$1")
  sleep 0.4
  import -window root "$file"
  printf 'tour: %02d %s\n' "$step" "$2"
}
# need VALUE WHAT: a window or file the step needs; a missing one is reported.
need() {
  if [ -z "$1" ]; then
    echo "tour: FAIL: $2"
    failed=$((failed + 1))
    return 1
  fi
}
# Into a control at a point of a window: click it, select what is there, type.
fill() { # fill WINDOW X Y TEXT
  click "$1" "$2" "$3"
  sleep 0.3 # the focus moves before the keys come
  xdotool key ctrl+a
  type_text "$4"
  sleep 0.2
}

bash "$root/scripts/tessolan-run" "$build" >"$work/log" 2>&1 & app=$!

# ---- the chooser, then a new ledger ----
chooser=$(find_win '帐本选择!')
need "$chooser" "the chooser appears at start" || exit 1
shot chooser "the chooser at the first start: no ledger yet"
click "$chooser" 128 284 # 新建帐本
box=$(find_win '新建帐本!')
need "$box" "the 新建帐本! box appears"
type_text '2026年的帐本'
shot new-ledger "新建帐本: the name typed"
xdotool key Return
box=$(find_win tessolan)
need "$box" "帐本创建成功! is shown"
shot created "帐本创建成功!"
answer_box
ws=$(find_win '帐本名称:2026年的帐本')
need "$ws" "the new ledger opens in the workspace" || exit 1
menu=$(menu_height "$ws" 465)
# Points of the workspace's client area, below its menu bar.
wsclick() { click "$ws" "$1" $((menu + $2)); }
book() { wsclick 44 $((37 + 16 + 20 + 72 * ($1 - 1))); } # the panel's buttons, 1..5
add() { wsclick 16 17; }                                # 添加资料
shot workspace "the workspace on the empty customer book"

# ---- customers ----
customer() { # name address postcode phone mobile
  add
  local d
  d=$(find_win '客户联系!')
  need "$d" "the customer dialog opens" || return 1
  fill "$d" 80 15 "$1"; fill "$d" 150 39 "$2"; fill "$d" 80 63 "$3"; fill "$d" 90 87 "$4"; fill "$d" 100 111 "$5"
  [ -n "${6:-}" ] && shot customer-dialog "客户联系!: a customer typed in"
  click "$d" 236 148 # 添加
  sleep 0.5
}
customer '杭州四季服饰有限公司' '杭州市滨江区江南大道1008号' '310051' '0571-86001234' '13905710001' shot
customer '王丽' '桐乡市濮院镇毛衫城18号' '314502' '0573-88770001' '13857300002'
customer '张三' '嘉兴市南湖区中山路66号' '314000' '0573-82020003' '13957300003'
shot customers-added "客户联系 right after the adds, before the book is opened again"
book 1
shot customers "客户联系: three customers"

# ---- shipments, purchases, deliveries ----
shipment() { # name kind quantity amount
  add
  local d
  d=$(find_win '发货!')
  need "$d" "the shipment dialog opens" || return 1
  fill "$d" 100 14 "$1"; fill "$d" 100 38 "$2"; fill "$d" 100 63 "$3"; fill "$d" 90 142 "$4"
  [ -n "${5:-}" ] && shot shipment-dialog "发货!: the customer picked fills in the address and postcode"
  click "$d" 276 180 # 添加
  sleep 0.5
}
book 2
shipment '王丽' '开衫' 120 3600 shot
shipment '杭州四季服饰有限公司' '套衫' 200 8000
shipment '王丽' '背心' 50 1500
shot shipments-added "发货表单 right after the adds, before the book is opened again"
book 2
shot shipments "发货表单: three shipments and the status bar's total"

# ---- sorted by a column title, then found ----
wsclick 655 46 # the title 总金额
sleep 0.6
shot sorted "发货表单 sorted by 总金额: a click on its title (again: the other way; a third time: the book's order)"
xdotool key ctrl+f; sleep 0.5
type_text '王丽'
shot find "查找 (Ctrl+F): the rows holding 王丽, still in the order of 总金额"
xdotool key Escape; sleep 0.5
wsclick 655 46; sleep 0.6
wsclick 655 46; sleep 0.6 # down, then the book's own order again

small() { # caption name kind quantity amount [shot-name what]
  add
  local d
  d=$(find_win "$1")
  need "$d" "the $1 dialog opens" || return 1
  fill "$d" 100 14 "$2"; fill "$d" 100 38 "$3"; fill "$d" 100 62 "$4"; fill "$d" 90 86 "$5"
  [ -n "${6:-}" ] && shot "$6" "$7"
  click "$d" 180 124 # 添加
  sleep 0.5
}
book 3
small '进货!' '桐乡毛纱厂' '羊毛纱' 300 4500 purchase-dialog "进货!: a purchase typed in"
small '进货!' '濮院辅料行' '纽扣' 2000 600
book 3
shot purchases "进货表单: two purchases"
book 4
small '职工交货!' '小李' '套口' 400 800 delivery-dialog "职工交货!: a worker's delivery typed in"
small '职工交货!' '小王' '整烫' 300 450
small '职工交货!' '小李' '横机' 120 960
book 4
shot deliveries "职工交货: three deliveries"

# ---- settlement, with the report left open ----
book 2
wsclick 292 22 # 结帐条件
type_text '王丽'
xdotool key Return
report=$(find_win '报表!')
need "$report" "the settlement report appears"
shot settlement "结帐 王丽: the report window"
add
d=$(find_win '发货!')
need "$d" "添加资料 with the report open shows the shipment dialog"
shot dialog-with-report "添加资料 while the report stays open"
wmctrl -c '发货!'; sleep 0.5

# The statement from the report's right-click menu.
right_click "$report" 200 60
shot report-menu "the report's right-click menu"
xdotool key Down Down Return # 导出PDF…
save=$(find_win '导出PDF')
need "$save" "the 导出PDF save box opens"
shot save-pdf "导出PDF…: the save box with its suggested name"
xdotool key Return
sleep 2
pdf=$(ls "$HOME"/Documents/*.pdf 2>/dev/null | head -1)
if need "$pdf" "the statement is written into the documents folder"; then
  step=$((step + 1))
  pdftoppm -r 90 -png -singlefile -f 1 -l 1 "$pdf" "$(printf '%s/%02d-statement' "$out" "$step")"
  printf 'tour: %02d %s\n' "$step" "the statement's first page ($(basename "$pdf"))"
fi
# The same for a period: 按期间导出对帐单 → PDF…, the period box with 本月 offered.
right_click "$report" 200 60
xdotool key Down Down Down Down Down Down Right
sleep 0.3
shot report-period-menu "the report's right-click menu: 按期间导出对帐单"
xdotool key Return # PDF…
period=$(find_win '对帐单的期间')
if need "$period" "the period box opens"; then
  shot period-box "对帐单的期间: 起, 止 and the quick picks, 本月 offered"
  xdotool key Return
  save=$(find_win '导出PDF')
  need "$save" "the 导出PDF save box opens for the period statement"
  xdotool key Return
  sleep 2
  pdf=$(ls "$HOME"/Documents/*至*.pdf 2>/dev/null | head -1)
  if need "$pdf" "the period statement is written into the documents folder"; then
    step=$((step + 1))
    pdftoppm -r 90 -png -singlefile -f 1 -l 1 "$pdf" "$(printf '%s/%02d-period-statement' "$out" "$step")"
    printf 'tour: %02d %s\n' "$step" "the period statement's first page ($(basename "$pdf"))"
  fi
fi
click "$report" 396 204 # 关闭
sleep 0.3

# ---- the overall report ----
book 5
box=$(find_win tessolan)
need "$box" "the overall report shows"
shot overall "总体报表"
# The box prints what it says: its right-click menu, and Ctrl+P for the preview.
right_click "$box" 60 40
shot overall-menu "总体报表: the box's right-click menu, 打印… and 导出PDF…"
xdotool key Escape; sleep 0.3
xdotool key ctrl+p
preview=$(find_win '打印总体报表')
if need "$preview" "Ctrl+P on the overall report opens its print preview"; then
  shot overall-preview "总体报表, Ctrl+P: the print preview"
  xdotool key Escape; sleep 0.5
fi
answer_box

# ---- the 工具 menu, 修改日期…, 年度统计, exports, help ----
book 2
wsclick 300 $((37 + 28)) # the first shipment
xdotool key alt+t; sleep 0.5
shot tools-menu "the 工具 menu"
xdotool key d # 修改日期…
cal=$(find_win '修改日期!')
need "$cal" "修改日期… opens the calendar"
xdotool key Page_Up Page_Up Page_Up Page_Up Page_Up Page_Up Page_Up # seven months back
shot datepicker "修改日期…: the calendar, seven months back"
xdotool key Return
sleep 0.5
shot date-changed "the first shipment dated seven months back"

xdotool key alt+t; sleep 0.4; xdotool key y # 年度统计…
yg=$(find_win '年度统计!')
need "$yg" "年度统计 opens"
shot yearglance "年度统计: by month"
xdotool key ctrl+Tab; sleep 0.5
shot yearglance-names "年度统计: by name"
wmctrl -c '年度统计!'; sleep 0.5

wsclick 300 $((37 + 28))
xdotool key ctrl+e
save=$(find_win '导出Excel')
need "$save" "Ctrl+E opens the save box of 导出本表为Excel…"
shot export-excel "Ctrl+E: the shown book to Excel"
xdotool key Return; sleep 1.5
xdotool key ctrl+shift+e
save=$(find_win '导出CSV')
need "$save" "Ctrl+Shift+E opens the save box of 导出本表为CSV…"
xdotool key Return; sleep 1.5
ls "$HOME"/Documents/*发货*.xlsx >/dev/null 2>&1 || need "" "the shipment book is written as .xlsx"
ls "$HOME"/Documents/*发货*.csv >/dev/null 2>&1 || need "" "the shipment book is written as .csv"
shot exported "after both exports"

xdotool key ctrl+p
preview=$(find_win '打印本表')
if need "$preview" "Ctrl+P opens the print preview of the shown book"; then
  shot print-preview "Ctrl+P: the shipment book in the print preview, on A4 turned for its seven fields"
  xdotool key Escape; sleep 0.5
fi
xdotool key ctrl+shift+p
save=$(find_win '导出PDF')
need "$save" "Ctrl+Shift+P opens the save box of 导出本表为PDF…"
xdotool key Return; sleep 2
pdf=$(ls "$HOME"/Documents/*-发货-[0-9]*.pdf 2>/dev/null | head -1)
if need "$pdf" "the shipment book is written as .pdf"; then
  step=$((step + 1))
  pdftoppm -r 90 -png -singlefile -f 1 -l 1 "$pdf" "$(printf '%s/%02d-book-pdf' "$out" "$step")"
  printf 'tour: %02d %s\n' "$step" "the shipment book's PDF, first page ($(basename "$pdf"))"
fi

xdotool key F1
help=$(find_other_win '帐本名称:2026年的帐本' "$ws")
need "$help" "F1 shows the help"
shot help "F1: where things are"
answer_box

# ---- back to the chooser: the ledger is listed, and backed up ----
wsclick 113 17 # 更换帐本
chooser=$(find_win '帐本选择!')
need "$chooser" "更换帐本 brings back the chooser"
click "$chooser" 60 32 # the ledger
shot chooser-listed "the chooser with the new ledger"
right_click "$chooser" 60 32
shot chooser-menu "the chooser's right-click menu"
xdotool key Down Return # 从备份恢复…
list=$(find_win '从备份恢复!')
need "$list" "从备份恢复… lists the snapshots"
shot restore "从备份恢复…: the snapshot made on leaving the ledger"
xdotool key Return # 确定 on the snapshot
ask=$(find_other_win '帐本选择!' "$chooser")
need "$ask" "the restore asks before it replaces the ledger"
shot restore-confirm "the restore's question, 是 and 否"
xdotool key Escape; sleep 0.3 # 否: the ledger stays as it is

# ---- the next year from this one, then rename, delete and bring back ----
right_click "$chooser" 60 32
xdotool key n # 新建帐本(从旧帐本带入)…
box=$(find_win '新建帐本\(从旧帐本带入\)!')
need "$box" "新建帐本(从旧帐本带入)… asks for the name"
type_text '2027年的帐本'
shot new-from-old "新建帐本(从旧帐本带入)…: the name typed"
xdotool key Return
box=$(find_win tessolan)
need "$box" "帐本创建成功! is shown for the new year"
answer_box
ws=$(find_win '帐本名称:2027年的帐本')
if need "$ws" "the new year opens in the workspace"; then
  book 1
  shot new-year-customers "the new year: the customers came along, the money books are empty"
  wsclick 113 17 # 更换帐本
fi
chooser=$(find_win '帐本选择!')
need "$chooser" "back to the chooser" || exit 1
right_click "$chooser" 60 48
shot chooser-menu-ledger "the right-click menu on the new ledger"
xdotool key m # 重命名帐本…
box=$(find_win '重命名帐本!')
need "$box" "重命名帐本… asks for the new name"
xdotool key ctrl+a # it starts with the old name
type_text '2027年的帐本(草稿)'
shot rename "重命名帐本…: the new name typed"
xdotool key Return; sleep 0.5
click "$chooser" 60 48
shot renamed "the chooser with the renamed ledger"
right_click "$chooser" 60 48
xdotool key d # 删除帐本…
ask=$(find_other_win '帐本选择!' "$chooser")
need "$ask" "删除帐本… asks first"
shot delete-confirm "删除帐本…: the question"
xdotool key Return; sleep 0.8 # 是
said=$(find_other_win '帐本选择!' "$chooser")
need "$said" "the delete says where the backup is"
shot deleted "删除帐本…: deleted, its backup named"
answer_box
right_click "$chooser" 120 200 # the list's empty part
shot chooser-menu-empty "the right-click menu on the list's empty part"
xdotool key r # 从备份恢复…
list=$(find_win '从备份恢复!')
need "$list" "从备份恢复… on no ledger lists the deleted ledgers' backups"
shot restore-deleted "从备份恢复…: the backups of the deleted ledger"
xdotool key Return; sleep 0.5 # 确定
xdotool key Return; sleep 0.8 # 是
answer_box
shot brought-back "the deleted ledger is back under its name"

# ---- 备份全部帐本到… and back from that folder ----
xdotool key ctrl+b
dlg=$(find_win '备份全部帐本到')
if need "$dlg" "Ctrl+B opens the folder box"; then
  type_text "$HOME/Documents"; sleep 0.3; xdotool key Return; sleep 2
  answer_box
fi
backup=$(ls -d "$HOME"/Documents/tessolan-备份-* 2>/dev/null | head -1)
need "$backup" "备份全部帐本到… writes a folder into the documents"
xdotool key ctrl+shift+r
dlg=$(find_win '从备份文件夹恢复')
if need "$dlg" "Ctrl+Shift+R opens the folder box"; then
  type_text "$backup"; sleep 0.3; xdotool key Return
  list=$(find_win '从备份文件夹恢复!')
  need "$list" "从备份文件夹恢复… lists the ledgers of the folder"
  shot restore-folder "从备份文件夹恢复…: the ledgers of a backup folder"
  xdotool key Escape; sleep 0.3
fi
click "$chooser" 208 284 # 退出程序
for _ in $(seq 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
ended "$app" || need "" "退出程序 ends the program"

echo "tour: $step pictures in $out, $failed failed steps"
[ "$failed" -eq 0 ]
