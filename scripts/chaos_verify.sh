#!/bin/sh
# Runs "vantor download --verify" against "vantor sim" on a noisy line, once per seed, and checks
# that it never exits 0 while the device's memory differs from the image.
#   scripts/chaos_verify.sh [BUILD_DIR] [RUNS] [CHAOS]
set -eu
build=${1:-build/default}
runs=${2:-50}
chaos=${3:-drop=3e-6,flip=3e-6,duplicate=3e-6,delay=3e-6,cut=1e-6}
vantor="$build/src/cli/vantor"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 16384 /dev/urandom >"$work/code.bin"
head -c 262144 /dev/urandom >"$work/memory.bin"
ok=0 failed=0 false=0
seed=1
while [ "$seed" -le "$runs" ]; do
  rm -f "$work/sim.out"
  "$vantor" --quiet sim --no-pacing --memory "$work/memory.bin" --chaos "$chaos" \
    --chaos-seed "$seed" --save-memory "$work/after.bin" >"$work/sim.out" &
  sim=$!
  while [ ! -s "$work/sim.out" ]; do sleep 0.05; done  # the pty's path, printed first
  pty=$(head -n 1 "$work/sim.out")
  if "$vantor" --quiet download --no-redetect --verify -p "$pty" "CODE=$work/code.bin" \
    >/dev/null 2>"$work/err"; then
    result=0
  else
    result=$?
  fi
  kill -TERM "$sim"
  wait "$sim" 2>/dev/null || true
  # CODE lands at 0x108000, 0x8000 into the window.
  if [ "$result" -eq 0 ]; then
    ok=$((ok + 1))
    if ! tail -c +32769 "$work/after.bin" | head -c 16384 | cmp -s - "$work/code.bin"; then
      false=$((false + 1))
      echo "FALSE SUCCESS: seed $seed"
    fi
  else
    failed=$((failed + 1))
    echo "seed $seed: exit $result: $(tr '\n' ' ' <"$work/err")"
  fi
  seed=$((seed + 1))
done
echo "runs: $runs, verified: $ok, failed: $failed, false successes: $false"
[ "$false" -eq 0 ]
