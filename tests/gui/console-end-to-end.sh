#!/bin/sh
# The console in a window, driven from outside as a person would: zuv started with no script
# on a pseudo-terminal (so that it opens its window), "1 + 2" and Enter typed with xdotool,
# the terminal's lines saved to a file by a typed command and read here, then the window
# closed as a window manager's close button does. The program must end with status 0 and
# leave its settings file, with the typed lines in its history.
# Usage: console-end-to-end.sh ZUV (run under xvfb-run).
set -u
zuv=$1
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config"
pid=
fail() {
    echo "FAIL: $*"
    [ -f "$work/out" ] && { echo "--- program output:"; cat "$work/out"; }
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$work"
    echo "0 passed, 1 failed"
    exit 1
}
command -v xdotool > /dev/null || { echo "xdotool is not installed: skipped"; exit 0; }

# zuv on a pseudo-terminal of its own; its output goes to a file. The launcher ends with it
# and gives its exit status.
python3 - "$zuv" "$work/out" "$work/status" <<'EOF' &
import os, pty, sys
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], [sys.argv[1]])
with open(sys.argv[2], "wb") as out:
    while True:
        try:
            data = os.read(fd, 4096)
        except OSError:
            break
        if not data:
            break
        out.write(data)
        out.flush()
_, status = os.waitpid(pid, 0)
with open(sys.argv[3], "w") as f:
    f.write(str(os.waitstatus_to_exitcode(status)))
EOF
pid=$!

wid=$(timeout 60 xdotool search --sync --onlyvisible --name "^Zuv Console$" | head -n 1)
[ -n "$wid" ] || fail "the console window did not open"
xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"
sleep 1

xdotool type --delay 40 '1 + 2'
xdotool key Return
sleep 1
xdotool type --delay 20 "save %$work/lines.txt gui-console-ctx/terminal/lines"
xdotool key Return
for _ in $(seq 1 100); do [ -s "$work/lines.txt" ] && break; sleep 0.1; done
[ -s "$work/lines.txt" ] || fail "the terminal's lines were not saved"
grep -q '">> 1 + 2"' "$work/lines.txt" || fail "the typed line is not in the terminal: $(cat "$work/lines.txt")"
grep -q '"== 3"' "$work/lines.txt" || fail "the result is not in the terminal: $(cat "$work/lines.txt")"

# The window manager's close: a WM_DELETE_WINDOW client message.
python3 - "$wid" <<'EOF' || fail "the close request could not be sent"
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
if not d:
    sys.exit(1)
window = int(sys.argv[1])
e = Event()
e.xclient.type = 33  # ClientMessage
e.xclient.display = d
e.xclient.window = window
e.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.xclient.format = 32
e.xclient.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
e.xclient.data[1] = 0  # CurrentTime
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(Event)]
x.XSendEvent(d, window, 0, 0, ctypes.byref(e))
x.XFlush(d)
x.XCloseDisplay(d)
EOF

for _ in $(seq 1 200); do [ -s "$work/status" ] && break; sleep 0.1; done
[ -s "$work/status" ] || fail "the program did not end when its window was closed"
status=$(cat "$work/status")
[ "$status" = 0 ] || fail "the program ended with status $status"
cfg="$XDG_CONFIG_HOME/Zuv-Console/console-cfg.zuv"
[ -f "$cfg" ] || fail "no settings file at $cfg"
grep -q '"1 + 2"' "$cfg" || fail "the history was not saved: $(cat "$cfg")"
wait "$pid" 2>/dev/null
rm -rf "$work"
echo "1 passed, 0 failed"
