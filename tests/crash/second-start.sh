#!/usr/bin/env bash
# A second start in the same folder must leave the running one's files alone:
# the index stays "tsl.mdb" under the first copy, and the first one's orderly
# end still puts "run.dll" back.
set -u
bin=$(readlink -f "$1")
index=$(readlink -f "$2")
dir=$(mktemp -d)
trap 'kill -9 ${p1:-} ${p2:-} 2>/dev/null; rm -rf "$dir"' EXIT
cp "$index" "$dir/run.dll"
cd "$dir"
export QT_QPA_PLATFORM=offscreen

fail() { echo "second-start: FAIL: $*"; exit 1; }

"$bin" 2>/dev/null & p1=$!
for _ in $(seq 100); do [ -e tsl.mdb ] && break; sleep 0.1; done
[ -e tsl.mdb ] || fail "the first start did not put the index in place"

before=$(ls -A | sort | tr '\n' ' ')
sum_before=$(md5sum tsl.mdb)
"$bin" 2>/dev/null & p2=$!
sleep 2
# Ending the second copy the orderly way must not move the first one's index.
kill -TERM "$p2" 2>/dev/null; wait "$p2" 2>/dev/null
after=$(ls -A | sort | tr '\n' ' ')
[ "$before" = "$after" ] || fail "the second start changed the folder: '$before' -> '$after'"
[ "$sum_before" = "$(md5sum tsl.mdb)" ] || fail "the second start changed the index"
kill -0 "$p1" 2>/dev/null || fail "the first copy ended"

kill -TERM "$p1"; wait "$p1"
[ -e run.dll ] && [ ! -e tsl.mdb ] || fail "the first copy's end did not put run.dll back"
echo "second-start: 1 passed, 0 failed"
