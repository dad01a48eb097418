#!/usr/bin/env bash
# Installs the Debian packages the project needs when they are missing, then configures and builds
# one build tree. Usage: scripts/setup.sh [--tests] [--target T]... BUILD_DIR [cmake options...]
#   --target builds only T (and what it needs) instead of the whole tree
#   --tests  also the packages of the full test run (sanitizer runtime, Xvfb, fonts, mingw, Wine,
#            the package tools: help2man for the manual pages, dpkg-dev, lintian, desktop-file-utils;
#            PostgreSQL's server for the database tests; clang-format for the layout check)
set -euo pipefail

tests=0
targets=()
while [[ "${1:-}" == --* ]]; do
  case "$1" in
    --tests) tests=1; shift ;;
    --target) targets+=(--target "${2:?target}"); shift 2 ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
build_dir=${1:?build directory}
shift

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          libpq-dev qt6-base-dev qt6-svg-dev fonts-nanum ccache nlohmann-json3-dev)
if (( tests )); then
  packages+=(binutils clang-14 libclang-rt-14-dev xvfb xauth imagemagick librsvg2-bin
             g++-mingw-w64-x86-64-posix wine wine64
             help2man dpkg-dev file fakeroot lintian desktop-file-utils man-db postgresql
             fonts-wine fonts-dejavu-core xdotool clang-format-14)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if (( ${#missing[@]} )); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  (( EUID == 0 )) || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi

root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" "${targets[@]}"
