#!/usr/bin/env bash
# The Debian package, checked as a user gets it: cpack in the default build tree, lintian (no
# error, no warning without a written override), the desktop entries validated, the package
# extracted into a temporary root and its programs run from there: vantor, quorix and pelion
# --version, then the extracted vantor against a simulated device started by the extracted
# `vantor sim` (a detect and a short write, verified).
#
#   scripts/package_tests.sh          # build/default, already built (scripts/test.sh does it)
#
# VANTOR_PACKAGE_BUILD chooses another build directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOR_PACKAGE_BUILD:-$root/build/default}

for tool in cpack lintian desktop-file-validate dpkg-deb help2man; do
  if ! command -v "$tool" >/dev/null; then
    echo "package_tests: $tool is not installed (scripts/setup.sh --tests installs it)"
    exit 1
  fi
done

# shellcheck source=check_lib.sh
source "$root/scripts/check_lib.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-package.XXXXXX")
sim_pid=""
cleanup() {
  set +e
  if [[ -n "$sim_pid" ]]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Debian package"
# Configured again so that tools installed since the first configure (help2man) are found.
cmake "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/vantor_*.deb
if ! (cd "$build" && cpack -G DEB --config CPackConfig.cmake >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  echo "package_tests: cpack failed"
  exit 1
fi
rm -rf "$build/_CPack_Packages"  # its staging copy: one package under build/
deb=$(find "$build" -maxdepth 1 -name 'vantor_*_amd64.deb')
if [[ -z "$deb" ]]; then
  echo "package_tests: no package was made"
  exit 1
fi
echo "$deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

echo "== lintian"
lintian --fail-on error,warning --info "$deb" >"$work/lintian.log" 2>&1 || fail "lintian"
cat "$work/lintian.log"
grep -q '^[EW]: ' "$work/lintian.log" && fail "lintian reports errors or warnings"

echo "== the package's contents"
pkg="$work/root"
dpkg-deb -x "$deb" "$pkg"
for file in usr/bin/vantor usr/bin/quorix usr/bin/pelion \
  usr/share/applications/quorix.desktop usr/share/applications/pelion.desktop \
  usr/share/icons/hicolor/scalable/apps/quorix.svg usr/share/icons/hicolor/scalable/apps/pelion.svg \
  usr/share/man/man1/vantor.1.gz usr/share/man/man1/quorix.1.gz usr/share/man/man1/pelion.1.gz \
  usr/share/bash-completion/completions/vantor \
  usr/share/doc/vantor/copyright usr/share/doc/vantor/changelog.gz; do
  [[ -s "$pkg/$file" ]] || fail "$file is missing"
done
desktop-file-validate "$pkg"/usr/share/applications/*.desktop && echo "desktop entries valid" ||
  fail "desktop-file-validate"
bash -n "$pkg/usr/share/bash-completion/completions/vantor" || fail "bash completion: syntax"
page=$(LANG=C.UTF-8 MANWIDTH=100 man -l "$pkg/usr/share/man/man1/vantor.1.gz" 2>&1)
for want in "RESULT CODES" "-8540" "통신에러" "EXIT STATUS" "download" "--verify"; do
  grep -q -- "$want" <<<"$page" || fail "vantor(1) does not show '$want'"
done

echo "== the extracted programs"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for program in vantor quorix pelion; do
  # No display: --version is answered before any window system starts.
  got=$(env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY "$pkg/usr/bin/$program" --version)
  [[ "$got" == "$program $version" ]] && echo "$got" ||
    fail "$program --version: '$got', expected '$program $version'"
done

vantor="$pkg/usr/bin/vantor"
coproc SIM { exec "$vantor" --quiet sim 2>&1; }
sim_pid=$SIM_PID
if ! read -r -t 10 -u "${SIM[0]}" port || [[ ! -e "$port" ]]; then
  fail "vantor sim did not start"
else
  echo "simulated device on $port"
  timeout 60 "$vantor" detect -p "$port" || fail "vantor detect"
  head -c 3072 /dev/urandom >"$work/param.bin"
  timeout 120 "$vantor" write -p "$port" --verify "parameter=$work/param.bin" ||
    fail "vantor write"
fi

verdict package_tests
