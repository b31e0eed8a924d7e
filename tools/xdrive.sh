# Driving the real program on an X desktop with a window manager (openbox):
# finding its windows by their captions, reading how the manager stacks them,
# clicking and typing. Sourced by tests/desktop/desktop-test.sh and tools/tour.sh;
# needs xdotool, xprop, xwininfo and xclip.

hexid() { printf '0x%x' "$1"; }
# Client windows bottom to top, as the window manager stacks them.
stacking() { xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'; }
top_window() { stacking | awk '{print $NF}'; }
active_window() { xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //; s/,.*//'; }
# The visible window with exactly this title (the newest of several); empty
# after 5 s without one.
find_win() {
  local w
  for _ in $(seq 50); do
    w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1)
    if [ -n "$w" ]; then sleep 0.3; echo "$w"; return; fi # let the manager stack it
    sleep 0.1
  done
}
# A visible window of this title other than the one given (a box that carries
# its window's caption); empty after 5 s without one.
find_other_win() { # find_other_win TITLE NOT_THIS_ID
  local w
  for _ in $(seq 50); do
    w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "$2" | tail -1)
    if [ -n "$w" ]; then sleep 0.3; echo "$w"; return; fi
    sleep 0.1
  done
}
hidden() { [ -z "$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null)" ]; }
ended() { ! kill -0 "$1" 2>/dev/null; }
is_top() { [ -n "$1" ] && [ "$(top_window)" = "$(hexid "$1")" ]; }
is_active() { [ -n "$1" ] && [ "$(printf '%d' "$(active_window)")" = "$1" ]; }
above() { # above UPPER LOWER: UPPER stands higher in the stacking order
  local order u l
  order=$(stacking | tr ' ' '\n' | grep -n .)
  u=$(echo "$order" | grep -i ":$(hexid "$1")\$" | cut -d: -f1)
  l=$(echo "$order" | grep -i ":$(hexid "$2")\$" | cut -d: -f1)
  [ -n "$u" ] && [ -n "$l" ] && [ "$u" -gt "$l" ]
}
# The window's frame centre lies within a few pixels of the screen's centre.
centred() {
  local x y w h l r t b sw sh
  sw=$(LC_ALL=C xwininfo -root | sed -n 's/.*Width: *//p')
  sh=$(LC_ALL=C xwininfo -root | sed -n 's/.*Height: *//p')
  x=$(LC_ALL=C xwininfo -id "$1" | sed -n 's/.*Absolute upper-left X: *//p')
  y=$(LC_ALL=C xwininfo -id "$1" | sed -n 's/.*Absolute upper-left Y: *//p')
  w=$(LC_ALL=C xwininfo -id "$1" | sed -n 's/.*Width: *//p')
  h=$(LC_ALL=C xwininfo -id "$1" | sed -n 's/.*Height: *//p')
  read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  x=$((x - l + (l + w + r) / 2 - sw / 2)); y=$((y - t + (t + h + b) / 2 - sh / 2))
  [ "${x#-}" -le 12 ] && [ "${y#-}" -le 12 ]
}
not_centred() { ! centred "$1"; }
# The pointer to a point of a window's client area. Placed from the window's
# absolute position: xdotool's own --window offset is off by the title bar for
# a window the program moved after showing it.
point_at() { # point_at WINDOW X Y
  local x y
  read -r x y < <(LC_ALL=C xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF} END {print x, y}')
  xdotool mousemove $((x + $2)) $((y + $3))
}
# A left click at a point of a window's client area.
click() { point_at "$1" "$2" "$3"; xdotool click 1; sleep 0.2; }
# A right click there; the menu is given time to open.
right_click() { point_at "$1" "$2" "$3"; xdotool click 3; sleep 0.5; }
answer_box() { xdotool key Return; sleep 0.4; }
# Types text as a user would into the focused control. Chinese text goes in
# whole, as an input method commits a word: through the clipboard and Ctrl+V.
# (xdotool types a character missing from the keyboard map by remapping a spare
# key for it, and the program may read that key after the map changed back:
# characters get lost.)
type_text() {
  if LC_ALL=C grep -q '^[ -~]*$' <<<"$1"; then
    xdotool type --delay 30 "$1"
  else
    printf '%s' "$1" | xclip -selection clipboard
    sleep 0.1
    xdotool key ctrl+v
  fi
  sleep 0.2
}
# The height of the menu bar above a window's client area of CLIENT_HEIGHT pixels.
menu_height() { # menu_height WINDOW CLIENT_HEIGHT
  echo $(( $(xdotool getwindowgeometry --shell "$1" | sed -n 's/^HEIGHT=//p') - $2 ))
}
