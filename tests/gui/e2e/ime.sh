#!/usr/bin/env bash
# Types a composition into a real window as a user would, with the toolkit's own input method:
# Ctrl+Shift+U, a code point in hex, Space. The window must hear each state of the composition
# as an ime event and then the composed character as a key event.
# Usage: ime.sh path/to/zuv (under Xvfb).
set -u
zuv=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -f "$work/out.txt" ] && cat "$work/out.txt"; exit 1; }

GTK_IM_MODULE=gtk-im-context-simple "$zuv" "$here/ime.zuv" "$work/result.txt" > "$work/out.txt" 2>&1 &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^IME$' | head -1)
[ -n "$wid" ] || fail "the window did not show"
xdotool windowfocus --sync "$wid" || fail "no focus"
xdotool key --delay 50 ctrl+shift+u e 9 space || fail "xdotool key"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end"
wait "$pid"; rc=$?
[ "$rc" -eq 0 ] || fail "the program ended with $rc"
want='["u" "ue" "ue9" "" #"é"]'
got=$(cat "$work/result.txt" 2>/dev/null)
[ "$got" = "$want" ] || fail "heard: $got (wanted: $want)"
echo "ok"
