# Shared by the check scripts (sourced): failures are counted, not fatal, so that one run shows
# them all; `verdict NAME` ends the script with its summary and exit code.
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
verdict() {
  if ((failures > 0)); then
    echo "$1: $failures failure(s)"
    exit 1
  fi
  echo "$1: all passed"
}
