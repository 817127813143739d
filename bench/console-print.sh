#!/usr/bin/env bash
# Printing 100,000 lines into the console's window, against printing them into a pipe (the
# limit), and the time a key takes to show in the input line with 10,000 lines of history
# above it. Run by hand: bench/console-print.sh (needs xvfb-run and xdotool; builds first).
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = inner ] || { exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" inner; }
export GTK_THEME=Adwaita NO_AT_BRIDGE=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
zuv=$PWD/build/zuv
lines=${LINES_TO_PRINT:-100000}

# The limit: the same lines through the text console's output into a pipe.
echo "Zuv [] loop $lines [print {a line of console output, 42 characters}]" > "$work/print.zuv"
pipe=$( { /usr/bin/time -f %e "$zuv" "$work/print.zuv" | cat >/dev/null; } 2>&1 | tail -n 1)

# zuv with no script on a pseudo-terminal of its own opens the console's window.
python3 -c 'import os, pty, sys
pid, fd = pty.fork()
if pid == 0: os.execv(sys.argv[1], [sys.argv[1]])
while True:
    try:
        if not os.read(fd, 4096): break
    except OSError: break' "$zuv" &
wid=$(timeout 60 xdotool search --sync --onlyvisible --name "^Zuv Console$" | head -n 1)
xdotool windowfocus --sync "$wid" 2>/dev/null || true
sleep 1
# One typed line prints the lines and takes the time; the next line, typed at once, runs only
# once the console answers keys again, and writes how long it all took.
xdotool type --delay 5 "t0: now/precise loop $lines [print {a line of console output, 42 characters}] t1: now/precise"
xdotool key Return
xdotool type --delay 5 "write %$work/printed rejoin [to float! difference t1 t0 { } to float! difference now/precise t0]"
xdotool key Return
for _ in $(seq 600); do [ -s "$work/printed" ] && break; sleep 0.1; done
[ -s "$work/printed" ] || { import -window root /tmp/console-bench.png; echo "no answer from the console"; exit 1; }
read -r printing responsive < "$work/printed" || true

# Typing latency: a key pressed at the prompt, with 10,000 lines of history, until the console
# has painted it, measured inside the console by its own key and paint times.
xdotool type --delay 5 "system/console/history: head clear system/console/history loop 10000 [append system/console/history {print 1}] probe length? system/console/history"
xdotool key Return
sleep 1
xdotool type --delay 5 "write %$work/typed mold now/precise"
start=$(date +%s.%N)
xdotool key Return
for _ in $(seq 100); do [ -s "$work/typed" ] && break; sleep 0.01; done
end=$(date +%s.%N)
xdotool key ctrl+q 2>/dev/null || true
kill %1 2>/dev/null || true

printf '%-44s %8s s\n' "print $lines lines into a pipe" "$pipe"
printf '%-44s %8.3f s\n' "print $lines lines into the console" "$printing"
printf '%-44s %8.3f s\n' "... until the console answers keys again" "$responsive"
printf '%-44s %8.3f s\n' "Enter to a run command, 10,000 history lines" "$(echo "$end - $start" | bc)"
