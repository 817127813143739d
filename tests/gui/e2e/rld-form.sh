#!/usr/bin/env bash
# Runs the layout dialect's small form as a real program on the display and drives it as a
# user would with xdotool: types into the field, picks a list item with a click and a key,
# clicks the button. The button's actor writes what the form holds and closes it; the
# program must then end on its own. Usage: rld-form.sh path/to/zuv (under Xvfb).
set -u
zuv=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ -f "$work/out.txt" ] && cat "$work/out.txt"; exit 1; }

"$zuv" "$here/rld-form.zuv" "$work/result.txt" "$work/places.txt" > "$work/out.txt" 2>&1 &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^RLD form$' | head -1)
[ -n "$wid" ] || fail "the form's window did not show"
for _ in $(seq 100); do [ -s "$work/places.txt" ] && break; sleep 0.1; done
eval "$(xdotool getwindowgeometry --shell "$wid")"  # X, Y: the client area on the screen
dpi=$(awk '$1 == "dpi" {print $2}' "$work/places.txt")
# The screen point at logical (dx, dy) inside a face.
at() {
	awk -v f="$1" -v dx="$2" -v dy="$3" -v x0="$X" -v y0="$Y" -v dpi="$dpi" \
		'$1 == f {s = dpi / 96; printf "%d %d", x0 + int(($2 + dx) * s + 0.5), y0 + int(($3 + dy) * s + 0.5)}' \
		"$work/places.txt"
}
xdo() { xdotool "$@" || fail "xdotool $*"; sleep 0.2; }

xdo windowfocus --sync "$wid"
xdo mousemove --sync $(at name 20 12) click 1
xdo type --delay 30 "hello zuv"
xdo mousemove --sync $(at choice 20 8) click 1
xdo key --delay 30 Down
xdo mousemove --sync $(at done 10 8) click 1

for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end when its form closed"
wait "$pid"; rc=$?
[ "$rc" -eq 0 ] || fail "the program ended with $rc"
[ -f "$work/result.txt" ] || fail "the button's actor did not run"
want=$'field=hello zuv\npicked=green'
got=$(cat "$work/result.txt")
[ "$got" = "$want" ] || fail "the form held: $got (wanted: $want)"
grep -qx "ended" "$work/out.txt" || fail "view did not return"
echo "ok"
