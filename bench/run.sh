#!/usr/bin/env bash
# Runs each benchmark in Zuv, Python 3 and Lua 5.4 and prints the median times and the ratios,
# then the lexer's loading rate. Not run by CI. Usage: bench/run.sh (builds the release program first).
set -euo pipefail
cd "$(dirname "$0")/.."
make build >/dev/null
need=()
[ -x /usr/bin/python3 ] || need+=(python3)
command -v lua5.4 >/dev/null || need+=(lua5.4)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The peers are timed as the interpreters themselves: a version manager's python3 on the PATH
# is often a shell script that starts the real one (adding its own start-up to every run), and
# its build may lack the optimizations of the system's. The system's CPython is the yardstick.
PY=/usr/bin/python3
[ -x "$PY" ] || PY=$(python3 -c 'import sys; print(sys.executable)')
LUA=$(command -v lua5.4)
echo "peers: $("$PY" --version 2>&1) ($PY), $("$LUA" -v 2>&1 | cut -d' ' -f1-2) ($LUA)"

# The median wall time of RUNS runs (5 unless set) of a command.
RUNS=${RUNS:-5}
seconds() {
  local s e i times=()
  for ((i = 0; i < RUNS; i++)); do
    s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N)
    times+=("$(echo "$e - $s" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (RUNS + 1) / 2 ))p"
}

printf '%-10s %9s %9s %9s %9s %9s\n' bench zuv python lua zuv/py zuv/lua
for b in fib loop append strings calls chars find mapput object foreach sort parse; do
  z=$(seconds build/zuv bench/$b.zuv)
  p=$(seconds "$PY" bench/$b.py)
  l=$(seconds "$LUA" bench/$b.lua)
  printf '%-10s %9.3f %9.3f %9.3f %9.2f %9.2f\n' "$b" "$z" "$p" "$l" "$(echo "$z / $p" | bc -l)" "$(echo "$z / $l" | bc -l)"
done

echo
# The codecs against Python's modules written in C (json, csv, zlib) on generated data: whole
# processes, each reading its input; the scripts print the time of the operation alone too.
[ -f build/records.json ] && [ -f build/records.csv ] && [ -f build/text.zz ] || "$PY" bench/gen-codec-data.py build
printf '%-10s %9s %9s %9s\n' codec zuv python zuv/py
for b in load-json to-json load-csv decompress; do
  z=$(seconds build/zuv bench/$b.zuv)
  p=$(seconds "$PY" bench/$b.py)
  printf '%-10s %9.3f %9.3f %9.2f\n' "$b" "$z" "$p" "$(echo "$z / $p" | bc -l)"
done

echo
cmake --build build/release --target zuv-bench >/dev/null
build/release/bench/native/zuv-bench

echo
build/zuv bench/map.zuv
# The profiler's overhead: fib plain and under profile.
build/zuv bench/profile.zuv | tail -1
# The lexer: loading 10 MB of generated source (blocks, words, strings, numbers).
[ -f build/lexer-source.zuv ] || "$PY" bench/gen-lexer-source.py build/lexer-source.zuv 10
printf '%-10s %s\n' lexer "$(build/zuv bench/lexer.zuv)"

echo
# DRAW against the same drawing made by a C program calling Cairo directly (milliseconds).
cc -O2 bench/draw-cairo.c $(pkg-config --cflags --libs cairo) -lm -o build/draw-cairo
printf '%-10s %9s %9s\n' draw "$(build/zuv bench/draw.zuv)" "$(build/draw-cairo)"

echo
# The GTK backend under a virtual display (see the figures in the note of bench/gui.zuv).
if command -v xvfb-run >/dev/null; then
  GTK_THEME=Adwaita NO_AT_BRIDGE=1 xvfb-run -a -s "-screen 0 1280x1024x24" build/zuv bench/gui.zuv
fi
