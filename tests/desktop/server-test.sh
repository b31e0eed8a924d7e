#!/usr/bin/env bash
# Two real programs on one server ledger, as two desks: each on a desktop of
# its own (Xvfb + openbox), with its own data folder and settings naming the
# server. Both enter the ledger, open the shipment book and add rows through the
# record dialog at the same time; the server then holds rows numbered (1)..(N)
# with no gap or repeat. A delete on one desk shows in the other's status
# summary within a second, and an edit of a row the other desk changed while
# its dialog was open is refused with the program's message.
#   server-test.sh TESSOLAN_BINARY PGDESK_HELPER INDEX_TEMPLATE [ROWS_PER_DESK]
set -u
bin=$(readlink -f "$1")
pgdesk=$(readlink -f "$2")
index=$(readlink -f "$3")
rows=${4:-${TSL_DESK_ROWS:-500}}
ledger=共用

for tool in Xvfb openbox xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null 2>&1 || { echo "server-desktop: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
locale -a 2>/dev/null | grep -qix 'zh_CN.utf8' ||
  { echo "server-desktop: the zh_CN.UTF-8 locale is missing (scripts/install-deps.sh generates it)"; exit 1; }
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 QT_QPA_PLATFORM=xcb

dir=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in ${adderA:-} ${adderB:-} ${appA:-} ${appB:-}; do kill -9 "$p" 2>/dev/null; done
  [ -n "${server:-}" ] && { kill -TERM "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  [ -n "${TSL_DESK_SHOTS:-}" ] && cp "$dir"/*.png "$TSL_DESK_SHOTS"/ 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' TERM INT HUP

passed=0
failed=0
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "server-desktop: FAIL: $what"; fi
}
give_up() { echo "server-desktop: $1"; echo "server-desktop: $passed passed, $((failed + 1)) failed"; exit 1; }

# shellcheck source=../../tools/xdrive.sh
. "$(dirname "$(readlink -f "$0")")/../../tools/xdrive.sh"

# A desktop of its own for each desk: keys typed on one never reach the other.
desktop() { # desktop NAME: starts its X server and window manager, sets dpyNAME
  local f="$dir/display$1" n
  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$f" >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 100); do [ -s "$f" ] && break; sleep 0.05; done
  n=$(head -1 "$f")
  [ -n "$n" ] || give_up "no X server for desk $1"
  DISPLAY=":$n" openbox >/dev/null 2>&1 & pids+=($!)
  printf -v "dpy$1" ':%s' "$n"
}
desktop A
desktop B

# The server, stopped by the helper on its way out (also when this script dies:
# its input ends).
"$pgdesk" serve "$ledger" "$dir/address" > "$dir/server.log" 2>&1 < <(while kill -0 $$ 2>/dev/null; do sleep 1; done) &
server=$!
for _ in $(seq 300); do [ -s "$dir/address" ] || ! kill -0 "$server" 2>/dev/null && break; sleep 0.1; done
[ -s "$dir/address" ] || give_up "the PostgreSQL server did not start: $(cat "$dir/server.log")"
address=$(cat "$dir/address")

# A desk: its data folder with the index, its settings naming the server.
for d in A B; do
  mkdir -p "$dir/$d/data" "$dir/$d/config/tessolan" "$dir/$d/runtime"
  chmod 700 "$dir/$d/runtime"
  cp "$index" "$dir/$d/data/run.dll"
  printf '[store]\nserver=%s\n' "$address" >"$dir/$d/config/tessolan/tessolan.conf"
done

at() { # at DESK COMMAND...: runs a command on that desk's desktop
  local d=$1; shift
  DISPLAY=$(eval echo "\$dpy$d") "$@"
}
start_desk() { # start_desk DESK: sets appDESK
  local d=$1
  (cd "$dir/$d/data" && DISPLAY=$(eval echo "\$dpy$d") HOME="$dir/$d" XDG_CONFIG_HOME="$dir/$d/config" \
     XDG_RUNTIME_DIR="$dir/$d/runtime" TSL_SCREEN_DUMP="$dir/$d/screen" exec "$bin" >"$dir/$d/log" 2>&1) &
  printf -v "app$d" '%s' "$!"
}
# What a desk's program shows, as it knows it (see widgets/screendump.h).
screen() { # screen DESK
  local d=$1 p
  p=$(eval echo "\$app$d")
  rm -f "$dir/$d/screen"
  kill -USR1 "$p"
  for _ in $(seq 50); do [ -e "$dir/$d/screen" ] && break; sleep 0.02; done
  cat "$dir/$d/screen" 2>/dev/null
}
shipped() { # shipped DESK: the count in the workspace's status summary
  screen "$1" | awk -F '\t' '$1 == "status" && $2 ~ /^帐本名称:/ { print $3 }' | sed -n 's/^总共已经发了\([0-9]*\)次货.*/\1/p'
}
box_text() { screen "$1" | awk -F '\t' '$1 == "box" { print $3 }'; }
shot() { # shot NAME: both desktops side by side
  at A import -window root "$dir/$1-A.png" 2>/dev/null
  at B import -window root "$dir/$1-B.png" 2>/dev/null
  convert "$dir/$1-A.png" "$dir/$1-B.png" +append "$dir/$1.png" 2>/dev/null
  rm -f "$dir/$1-A.png" "$dir/$1-B.png"
}
# Waits until the desk's active window is (or, with "not", is no longer) the given one.
active_is() { # active_is DESK WINDOW [not]
  local want
  want=$(printf '0x%x' "$2")
  for _ in $(seq 250); do
    local now
    now=$(at "$1" xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //; s/,.*//')
    if [ -z "${3:-}" ]; then [ "$now" = "$want" ] && return 0; else [ "$now" != "$want" ] && return 0; fi
    sleep 0.02
  done
  return 1
}

# Each desk enters the ledger from its chooser, which lists the server's ledgers.
for d in A B; do
  start_desk "$d"
  chooser=$(at "$d" find_win '帐本选择!')
  [ -n "$chooser" ] || give_up "desk $d shows no chooser: $(cat "$dir/$d/log")"
  at "$d" click "$chooser" 20 32
  at "$d" click "$chooser" 48 284
  ws=$(at "$d" find_win "帐本名称:$ledger")
  [ -n "$ws" ] || give_up "desk $d did not enter the server ledger: $(cat "$dir/$d/log")"
  menu=$(( $(at "$d" xdotool getwindowgeometry --shell "$ws" | sed -n 's/^HEIGHT=//p') - 465 ))
  at "$d" click "$ws" 44 $((menu + 37 + 108)) # the shipment book
  printf -v "ws$d" '%s' "$ws"
done
check "both desks show the empty shipment book" [ "$(shipped A)/$(shipped B)" = 0/0 ]

# Adds through the record dialog: 文件 > 添加资料, a name, Enter.
add_rows() { # add_rows DESK COUNT
  local d=$1 ws i
  ws=$(eval echo "\$ws$d")
  for i in $(seq "$2"); do
    at "$d" xdotool key alt+f a
    active_is "$d" "$ws" not || { echo "desk $d: no dialog for add $i"; return 1; }
    # The name box opens on the first name listed: typed over, as a user does.
    at "$d" xdotool key ctrl+a
    at "$d" xdotool type --delay 5 "$d$i"
    at "$d" xdotool key Return
    active_is "$d" "$ws" || { echo "desk $d: the dialog of add $i stays"; return 1; }
  done
}
began=$(date +%s)
add_rows A "$rows" & adderA=$!
add_rows B "$rows" & adderB=$!
wait "$adderA"; okA=$?
wait "$adderB"; okB=$?
echo "server-desktop: 2 x $rows adds took $(( $(date +%s) - began )) s"
check "desk A added its rows" [ "$okA" -eq 0 ]
check "desk B added its rows" [ "$okB" -eq 0 ]
shot added

total=$((2 * rows))
count=$("$pgdesk" numbered "$address" "$ledger" 2)
check "the server holds rows numbered (1)..(N) with no gap or repeat" [ $? -eq 0 ]
check "the server holds $total rows (has $count)" [ "$count" = "$total" ]
sleep 1
check "both desks count $total shipments" [ "$(shipped A)/$(shipped B)" = "$total/$total" ]

first_row() { # first_row DESK: the grid's first row made current, as a user does
  at "$1" click "$(eval echo "\$ws$1")" 400 $((menu + 250))
  at "$1" xdotool key ctrl+Home
  sleep 0.2
}

# A delete on desk A shows in desk B's summary within a second.
first_row A
at A xdotool key alt+f d
active_is A "$wsA" not || give_up "desk A asks nothing before a delete"
at A xdotool key Return
# From the moment desk A shows its delete (its own renumbering done) to desk B showing it.
shownA="" seen=""
for _ in $(seq 200); do
  [ -z "$shownA" ] && [ "$(shipped A)" = $((total - 1)) ] && shownA=$(date +%s%N)
  [ -n "$shownA" ] && [ "$(shipped B)" = $((total - 1)) ] && { seen=$(( ($(date +%s%N) - shownA) / 1000000 )); break; }
  sleep 0.02
done
echo "server-desktop: desk B showed the delete ${seen:-never} ms after desk A"
within_second() { [ -n "$seen" ] && [ "$seen" -le 1000 ]; }
check "desk B shows the delete within a second" within_second
check "the numbering closes up after the delete" "$pgdesk" numbered "$address" "$ledger" 2 >/dev/null
shot deleted

# Desk B opens the first row for editing; desk A changes that row meanwhile;
# B's change is refused and A's stays.
first_row B
at B xdotool key alt+f e
active_is B "$wsB" not || give_up "desk B opens no edit dialog"
first_row A
at A xdotool key alt+f e
active_is A "$wsA" not || give_up "desk A opens no edit dialog"
at A xdotool key ctrl+a
at A xdotool type "changed on A"
at A xdotool key Return
active_is A "$wsA" || give_up "desk A's edit dialog stays"
at B xdotool key ctrl+a
at B xdotool type "changed on B"
at B xdotool key Return
sleep 0.5
shot refused
check "desk B's edit is refused with the program's message" \
  [ "$(box_text B)" = "该记录已被另一台电脑修改,请重新打开本表!" ]
check "desk A's change stays on the server" \
  [ "$("$pgdesk" field "$address" "$ledger" 2 1 客户姓名)" = "changed on A" ]

echo "server-desktop: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
