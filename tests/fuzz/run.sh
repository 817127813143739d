#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs each for a while:
#   tests/fuzz/run.sh SECONDS [TARGET...]      (targets: lexer zuvbin inflate image json csv)
# Each target starts from its seeds (tests/fuzz/corpus/TARGET, read only) and the inputs it
# found before (build/fuzz/corpus/TARGET). A crash, hang, leak or broken property stops the
# run with status 1 and leaves the input in build/fuzz/crashes/; replay it with
#   build/fuzz/TARGET_fuzz build/fuzz/crashes/crash-...
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(lexer zuvbin inflate image json csv)
jobs=${JOBS:-$(nproc)}

scripts/setup.sh fuzz
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
  -DZUV_FUZZ=ON -DZUV_TESTS=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target "${targets[@]/%/_fuzz}"

mkdir -p build/fuzz/crashes
for t in "${targets[@]}"; do
  options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -malloc_limit_mb=2048
           -artifact_prefix=build/fuzz/crashes/ -print_final_stats=1)
  case $t in
    lexer) options+=(-max_len=4096 -dict=tests/fuzz/lexer.dict) ;;
    json) options+=(-max_len=2048 -dict=tests/fuzz/json.dict) ;;
    csv) options+=(-max_len=2048) ;;
    # The imaging library keeps caches of its own for good: they are no leak of ours.
    image) options+=(-max_len=16384 -detect_leaks=0) ;;
    *) options+=(-max_len=16384) ;;
  esac
  # In one long process these grow for good: every new spelling becomes a symbol, kept for
  # good (no leak), and the ZUVBIN target's resident size passes 3 GB after some 500,000
  # inputs although a collection leaves only a few MB live. Long runs take their inputs in
  # short-lived children instead.
  case $t in
    lexer|zuvbin|json|csv) [ "$seconds" -le 60 ] || options+=(-fork=1 -ignore_crashes=0) ;;
  esac
  mkdir -p "build/fuzz/corpus/$t"
  echo "== $t: ${seconds}s"
  ASAN_OPTIONS=allow_user_segv_handler=1:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0 \
    "build/fuzz/${t}_fuzz" "${options[@]}" "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t"
done
