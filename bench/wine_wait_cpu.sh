#!/usr/bin/env bash
# CPU that vantor.exe's waits cost under Wine: the program's own time (user + system) and the
# wineserver's (through which Wine's waits and port calls go), for
#   start:    `--version`, the cost of starting the program (part of every line);
#   idle:     `detect` on a line where nothing answers (every wait times out);
#   transfer: `download` of SIZE bytes into a simulated device paced at the line's rate.
#
#   bench/wine_wait_cpu.sh [VANTOR_EXE] [SIZE]
#
# VANTOR_EXE defaults to build/mingw/src/cli/vantor.exe; the native `vantor sim` comes from
# VANTOR_NATIVE_BUILD (build/default). Prints one line per case.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$root/build/mingw/src/cli/vantor.exe}")
size=${2:-90000}
native_vantor=${VANTOR_NATIVE_BUILD:-$root/build/default}/src/cli/vantor
for tool in wine wineserver python3 "$native_vantor" "$exe"; do
  command -v "$tool" >/dev/null || [[ -x "$tool" || -f "$tool" ]] || {
    echo "wine_wait_cpu: $tool missing"
    exit 1
  }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-wine-cpu.XXXXXX")
pids=()
cleanup() {
  set +e
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  remove_private_prefix "$work"
}
# shellcheck source=../scripts/wine_prefix.sh
source "$root/scripts/wine_prefix.sh"
trap cleanup EXIT
make_private_prefix "$work"

# The idle line: a pseudo-terminal whose other end nobody answers on.
python3 -c 'import os, pty, sys, time
m, s = pty.openpty(); os.symlink(os.ttyname(s), sys.argv[1]); time.sleep(3600)' "$work/idle" &
pids+=($!)
"$native_vantor" sim --paced --link "$work/paced" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -L "$work/idle" && -L "$work/paced" ]] && break; sleep 0.1; done
ln -sfn "$work/idle" "$WINEPREFIX/dosdevices/com50"
ln -sfn "$work/paced" "$WINEPREFIX/dosdevices/com51"
head -c "$size" /dev/urandom >"$work/code.bin"
wineserver -w  # the one wineboot started ends; one server stays for all measurements
wineserver -f -p 600 >/dev/null 2>&1 &
server=$!
pids+=("$server")
wine cmd /c exit >/dev/null 2>&1
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }  # user + system, clock ticks
hz=$(getconf CLK_TCK)

measure() {  # measure NAME ARGS...: wall, program CPU and wineserver CPU of one vantor.exe run
  local name=$1
  shift
  local server_before
  server_before=$(ticks "$server")
  local start=$EPOCHREALTIME
  local out="$work/$name.out"
  local rc=0
  local times
  times=$({ TIMEFORMAT='%U %S'; time wine "$exe" "$@" >"$out" 2>&1; } 2>&1) || rc=$?
  local end=$EPOCHREALTIME
  local server_after
  server_after=$(ticks "$server")
  read -r user sys <<<"$times"
  awk -v n="$name" -v w0="$start" -v w1="$end" -v u="$user" -v s="$sys" -v a="$server_before" \
    -v b="$server_after" -v hz="$hz" -v rc="$rc" 'BEGIN {
      wall = w1 - w0; prog = (u + s) * 1000; srv = (b - a) * 1000 / hz
      printf "%-9s wall %6.2f s  vantor.exe %6.0f ms CPU (%4.1f %%)  wineserver %6.0f ms (%4.1f %%)  exit %d\n",
        n, wall, prog, prog / wall / 10, srv, srv / wall / 10, rc }'
  if ((rc != 0)) && [[ $name != idle ]]; then tr -d '\r' <"$out" | tail -n 3; fi
}

echo "$(basename "$exe") under $(wine --version): $(du -b "$work/code.bin" | cut -f1) bytes paced"
measure start --version  # what starting the program costs, in each line below too
measure idle detect -p COM50
measure transfer download -p COM51 "CODE=Z:${work//\//\\}\\code.bin"
