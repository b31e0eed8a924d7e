#!/usr/bin/env bash
# A terminate signal (a logout) ends the real program the orderly way at any
# moment: while the start-up waits in a box about a broken index, and while the
# end reports a failed backup. Either way the index is "run.dll" again and the
# program ends by itself, with 0.
set -u
bin=$(readlink -f "$1")
index=$(readlink -f "$2")
export QT_QPA_PLATFORM=offscreen
passed=0
failed=0

# case NAME SETUP [none]: SETUP prepares the folder; the program is started in
# it, terminated once the index is in place (or its box is up), and given 10
# seconds to end. "none": there is no index to put back.
case_() {
    local name=$1 setup=$2 want=${3:-run.dll} dir p rc
    dir=$(mktemp -d)
    (cd "$dir" && eval "$setup")
    (cd "$dir" && exec "$bin" 2>/dev/null) & p=$!
    for _ in $(seq 100); do [ -e "$dir/tsl.mdb" ] || [ "$want" = none ] && break; sleep 0.1; done
    sleep 1 # the box (if any) is up by now; the signal works before it too
    kill -TERM "$p" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$p" 2>/dev/null; then
        kill -KILL "$p" 2>/dev/null # what a logout does next
        wait "$p" 2>/dev/null
        rc=timeout
    else
        wait "$p"
        rc=$?
    fi
    local files
    files=$(cd "$dir" && ls -A | grep -v '^backups$' | sort | tr '\n' ' ')
    local index
    index=$(cd "$dir" && ls -A | grep -E '^(run\.dll|tsl\.mdb)$' | tr '\n' ' ')
    if [ "$rc" = 0 ] && { [ "$index" = "run.dll " ] || { [ "$want" = none ] && [ -z "$index" ]; }; }; then
        passed=$((passed + 1))
    else
        echo "terminate: FAIL: $name: ended with $rc, files: $files"
        failed=$((failed + 1))
    fi
    rm -rf "$dir"
}

case_ "box at start: no index at all" ':' none
case_ "box at start: an empty index" ': > run.dll'
case_ "box at start and at the end: a garbage index" 'printf "not a database, just text%.0s" $(seq 200) > run.dll'
case_ "box at the end: the backup fails" 'cp "'"$index"'" run.dll; : > backups'
case_ "no box" 'cp "'"$index"'" run.dll'

echo "terminate: $passed passed, $failed failed"
[ "$failed" = 0 ]
