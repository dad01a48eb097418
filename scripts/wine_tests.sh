#!/usr/bin/env bash
# The Windows build under Wine: cross-builds the core, vantor.exe and the tests with mingw-w64,
# makes the Windows archive (vantor-<version>-win64.zip), puts simulated devices on
# pseudo-terminals, maps them to COM ports of a private Wine prefix and runs the Windows programs
# against them: the archive's vantor.exe as a user unpacks it, also on several ports at once and as
# a station with ports plugged in while it runs (more devices from the native `vantor sim`).
# Cleans up after itself (devices, wineserver, prefix).
#
#   scripts/wine_tests.sh            # build/mingw (Windows) and build/default (native helper)
#
# VANTOR_WINE_BUILD and VANTOR_NATIVE_BUILD choose other build directories; JOBS the parallelism.
set -euo pipefail
trap 'echo "wine_tests: stopped at line $LINENO: $BASH_COMMAND" >&2' ERR
root=$(cd "$(dirname "$0")/.." && pwd)
win_build=${VANTOR_WINE_BUILD:-$root/build/mingw}
native_build=${VANTOR_NATIVE_BUILD:-$root/build/default}
jobs=${JOBS:-$(nproc)}

for tool in wine wineserver wineboot x86_64-w64-mingw32-g++-posix stty timeout; do
  if ! command -v "$tool" >/dev/null; then
    echo "wine_tests: $tool is not installed; skipped"
    exit 0
  fi
done

# shellcheck source=check_lib.sh
source "$root/scripts/check_lib.sh"

echo "== cross build (mingw-w64)"
# Quorix and Pelion need a Qt for mingw-w64: the one beside the clone (../shared/qt6-mingw), unpacked
# into the build tree. A clone without it builds vantor.exe and the core's tests only.
qt_args=()
qt_archive=$(find "$root/../shared/qt6-mingw" -maxdepth 1 -name 'qt6-mingw-*.tar.xz' 2>/dev/null |
  head -n 1 || true)
if [[ -n "$qt_archive" ]]; then
  if [[ ! -f "$win_build/qt6-mingw/bin/Qt6Core.dll" ]]; then
    mkdir -p "$win_build"
    tar xf "$qt_archive" -C "$win_build"
  fi
  qt_args=(-DVANTOR_QT_MINGW="$win_build/qt6-mingw")
else
  echo "wine_tests: no Qt for mingw-w64 (../shared/qt6-mingw): quorix.exe, pelion.exe and their tests are skipped"
fi
cmake --preset mingw -B "$win_build" "${qt_args[@]}" >/dev/null
cmake --build "$win_build" -j"$jobs"

echo "== Windows archive"
rm -f "$win_build"/vantor-*-win64.zip
(cd "$win_build" && cpack -G ZIP --config CPackConfig.cmake >/dev/null)
rm -rf "$win_build/_CPack_Packages"  # its staging copy: one archive under build/
archive=$(find "$win_build" -maxdepth 1 -name 'vantor-*-win64.zip')
echo "$archive"

echo "== native device helper and simulated devices"
if [[ ! -f "$native_build/CMakeCache.txt" ]]; then
  cmake --preset default -B "$native_build" >/dev/null
fi
cmake --build "$native_build" -j"$jobs" --target vantor_wine_device vantor

work=$(mktemp -d "${TMPDIR:-/tmp}/vantor-wine.XXXXXX")
dev_pid=""
sims=()  # simulated devices of the native vantor sim
cleanup() {
  set +e
  for pid in "${sims[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if [[ -n "$dev_pid" ]]; then
    echo quit >&"${DEV[1]}" 2>/dev/null
    sleep 0.2
    kill "$dev_pid" 2>/dev/null
    wait "$dev_pid" 2>/dev/null
  fi
  remove_private_prefix "$work"
}
# shellcheck source=wine_prefix.sh
source "$root/scripts/wine_prefix.sh"
trap cleanup EXIT

echo "== private Wine prefix"
# Pelion's tests empty the Documents folder: a private home and plain user folders.
make_private_prefix "$work"

# Two simulated devices: COM12 (two digits: the \\.\ form of the name) and COM7; and three
# null-modem pairs (COM20-COM21, COM22-COM23, COM24-COM25) on which the programs' tests put their
# own simulated devices.
coproc DEV { exec "$native_build/tests/win32/vantor_wine_device" 2 3; }
dev_pid=$DEV_PID
declare -a pty
for i in 0 1; do
  if ! read -r -t 10 -u "${DEV[0]}" word index path || [[ "$word" != port ]]; then
    echo "wine_tests: the device helper did not start"
    exit 1
  fi
  pty[index]=$path
done
declare -a pair_ptys
for i in 0 1 2; do
  if ! read -r -t 10 -u "${DEV[0]}" word index host_end device_end || [[ "$word" != pair ]]; then
    echo "wine_tests: the device helper made no null-modem pair"
    exit 1
  fi
  pair_ptys[index]="$host_end $device_end"
done
# One command to the device helper; its one-line answer in $reply. (Not in a subshell: the
# coprocess's descriptors are not available there.)
device() {
  echo "$*" >&"${DEV[1]}"
  read -r -t 30 -u "${DEV[0]}" reply || reply=""
}
port_a=COM12
port_b=COM7
echo "$port_a -> ${pty[0]}, $port_b -> ${pty[1]}"
echo "native settings of ${pty[1]} before Wine opened it: $(stty -F "${pty[1]}" speed)"
wine reg add 'HKLM\Software\Wine\Ports' /v "$port_a" /d "${pty[0]}" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v "$port_b" /d "${pty[1]}" /f >/dev/null 2>&1
null_modem_pairs=""
for i in 0 1 2; do
  read -r host_end device_end <<<"${pair_ptys[i]}"
  host=COM$((20 + 2 * i)) dev=COM$((21 + 2 * i))
  wine reg add 'HKLM\Software\Wine\Ports' /v "$host" /d "$host_end" /f >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Ports' /v "$dev" /d "$device_end" /f >/dev/null 2>&1
  null_modem_pairs+="${null_modem_pairs:+,}$host:$dev"
done
export VANTOR_NULL_MODEM_PAIRS=$null_modem_pairs
wineserver -k
wineserver -w
# One server for the whole stage: a server that ends when idle loses the volatile keys
# (HARDWARE\DEVICEMAP\SERIALCOMM, where ports are plugged in below).
wineserver -f -p >/dev/null 2>&1 &

echo "== Win32 backend against the mapped ports"
log="$work/win32_port_tests.log"
# Output to a file, not a pipe: Wine's background services inherit it and would hold a pipe open.
if ! VANTOR_TEST_PORT=$port_a VANTOR_TEST_PORT_2=$port_b \
  timeout 300 wine "$win_build/tests/win32/win32_port_tests.exe" >"$log" 2>&1; then
  fail "win32_port_tests"
fi
sed -n '/^\[==========\] Running/,/^\[==========\] .* ran/p' "$log"
grep -q '^\[  PASSED  \]' "$log" && ! grep -q '^\[  FAILED  \]' "$log" || fail "win32_port_tests"

# What Wine applied to the pseudo-terminal, seen natively: 115200 8N1, raw, no flow control.
settings=$(stty -F "${pty[1]}" -a)
echo "native settings of ${pty[1]} after Wine's SetCommState: $(stty -F "${pty[1]}" speed)"
words=$(tr ' ;' '\n\n' <<<"$settings")
grep -q "^speed 115200 baud" <<<"$settings" || fail "pty settings: not 115200 baud"
for want in cs8 -parenb -cstopb -crtscts -ixon -ixoff -icanon -echo -opost; do
  grep -qx -- "$want" <<<"$words" || fail "pty settings: '$want' missing"
done
echo "and cs8 -parenb -cstopb -crtscts -ixon -ixoff -icanon -echo -opost"

echo "== the archive's vantor.exe: download into the simulated device"
vantor_exe=""
if [[ -n "$archive" ]]; then
  mkdir "$work/unpacked"
  (cd "$work/unpacked" && cmake -E tar xf "$archive")
  unpacked=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d)
  for file in vantor.exe README.txt LICENSE.txt; do
    [[ -s "$unpacked/$file" ]] || fail "the archive has no $file"
  done
  vantor_exe="$unpacked/vantor.exe"
  # Only Windows' own DLLs: the mingw runtime is linked in.
  dlls=$(x86_64-w64-mingw32-objdump -p "$vantor_exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  echo "vantor.exe imports: $dlls"
  grep -qiE 'libstdc|libgcc|libwinpthread' <<<"$dlls" && fail "vantor.exe needs mingw DLLs"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win_build/CMakeCache.txt")
  got=$(wine "$vantor_exe" --version | tr -d '\r')
  [[ "$got" == "vantor $version" ]] && echo "$got" || fail "vantor.exe --version: '$got'"
fi
if [[ ! -f "$vantor_exe" ]]; then
  fail "no vantor.exe in the archive"
else
  image="$work/code.bin"
  head -c 5000 /dev/urandom >"$image"
  # Wine passes the Unix path through as a drive Z: path.
  if timeout 120 wine "$vantor_exe" download -p "$port_a" --verify "CODE=Z:${image//\//\\}"; then
    device dump 0 108000 5000 "$work/code.read"
    [[ "$reply" == ok ]] || fail "memory dump: $reply"
    cmp -s "$image" "$work/code.read" && echo "device memory at 0x108000 holds the image" ||
      fail "device memory at 0x108000 differs from the image"
    device flags 0
    [[ "$reply" == 3c690000 ]] && echo "download flags 0x$reply" || fail "download flags $reply"
  else
    fail "vantor.exe download"
  fi
  # A slot written at its absolute address into the second device's running bootloader.
  param="$work/param.bin"
  head -c 3072 /dev/urandom >"$param"
  if timeout 120 wine "$vantor_exe" write -p "$port_b" "parameter=Z:${param//\//\\}"; then
    device dump 1 13c000 3072 "$work/param.read"
    [[ "$reply" == ok ]] || fail "memory dump: $reply"
    cmp -s "$param" "$work/param.read" && echo "device memory at 0x13c000 holds the slot" ||
      fail "device memory at 0x13c000 differs from the slot"
  else
    fail "vantor.exe write"
  fi
fi

echo "== several ports and the station"
# More simulated devices: the native `vantor sim`, each behind a link in $work. A port is plugged
# in as a Windows driver does it: the DOS device (the prefix's dosdevices link) and its value under
# HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, the list in which a new port shows up while programs run.
# (Ports registered under HKLM\Software\Wine\Ports appear only when the wineserver starts.)
native_vantor="$native_build/src/cli/vantor"
sim() {  # sim NAME ARGS...: a simulated device behind $work/NAME
  local name=$1
  shift
  "$native_vantor" sim --link "$work/$name" "$@" >"$work/$name.sim" 2>&1 &
  sims+=($!)
  for _ in $(seq 50); do
    [[ -L "$work/$name" ]] && return 0
    sleep 0.1
  done
  fail "sim $name did not start: $(cat "$work/$name.sim")"
}
plug() {  # plug COMn LINK: the device first, then the list entry (a listed port opens)
  ln -sfn "$2" "$WINEPREFIX/dosdevices/${1,,}"
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Vantor$1" /d "$1" /f >/dev/null 2>&1 ||
    fail "plug $1"
}
unplug() {  # the list entry first, then the device
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Vantor$1" /f >/dev/null 2>&1 ||
    fail "unplug $1"
  rm -f "$WINEPREFIX/dosdevices/${1,,}"
}
winpath() { echo "Z:${1//\//\\}"; }
if [[ -f "$vantor_exe" && -x "$native_vantor" ]]; then
  # Two ports at once, byte-exact in both devices.
  image2="$work/code2.bin"
  head -c 20000 /dev/urandom >"$image2"
  if timeout 120 wine "$vantor_exe" download -p "$port_a" -p "$port_b" "CODE=$(winpath "$image2")" \
    >"$work/two.out" 2>&1; then
    for i in 0 1; do
      device dump "$i" 108000 20000 "$work/code2.read$i"
      cmp -s "$image2" "$work/code2.read$i" && echo "download -p $port_a -p $port_b: device $i holds the image" ||
        fail "download to two ports: device $i differs from the image"
    done
  else
    fail "download to two ports: $(tr -d '\r' <"$work/two.out")"
  fi

  # The station: one device present at start, a second plugged in while it runs.
  sim s40 --no-pacing
  plug COM40 "$work/s40"
  record="$work/line.jsonl"
  wine "$vantor_exe" station --match 'COM4?' --count 2 --verify --retries 1 \
    --record "$(winpath "$record")" "CODE=$(winpath "$image2")" >"$work/station.out" 2>&1 &
  station_pid=$!
  sleep 3
  sim s41 --no-pacing
  plug COM41 "$work/s41"
  found=""
  for _ in $(seq 100); do
    grep -q 'COM41' "$work/station.out" && found=yes && break
    sleep 0.1
  done
  [[ -n "$found" ]] && echo "station: COM41 found after it was plugged in" ||
    fail "station did not find COM41 within 10 s"
  station_rc=0
  timeout 120 tail --pid="$station_pid" -f /dev/null || fail "station did not end"
  wait "$station_pid" || station_rc=$?
  tr -d '\r' <"$work/station.out" | tail -n 4
  if ((station_rc != 0)); then
    fail "station --count 2: exit $station_rc"
    tr -d '\r' <"$work/station.out"
    cat "$work/s40.sim" "$work/s41.sim"
  fi
  lines=$(wc -l <"$record" 2>/dev/null || echo 0)
  ((lines == 2)) || fail "station record: $lines line(s), expected 2"
  for port in COM40 COM41; do
    grep "\"port\":\"$port\"" "$record" | grep -q '"verified":true,"result":{"code":0,"message":"[^"]*"},"unit":null}$' &&
      grep "\"port\":\"$port\"" "$record" | grep -q '"sha256":"[0-9a-f]\{64\}"' &&
      echo "record line of $port complete" || fail "record line of $port: $(grep "$port" "$record")"
  done
  unplug COM40
  unplug COM41

  # A device that refuses a frame: its row fails, the other succeeds, exit 1.
  sim s42 --no-pacing --refuse-frame 0:2
  plug COM42 "$work/s42"
  rc=0
  timeout 120 wine "$vantor_exe" download -p COM42 -p "$port_b" "CODE=$(winpath "$image2")" \
    >"$work/refuse.out" 2>&1 || rc=$?
  tr -d '\r' <"$work/refuse.out" | grep -E '^(COM42|COM7) ' || true
  ((rc == 1)) || fail "a refused frame: exit $rc, expected 1"
  grep -q "^$port_b .*downloaded 20000 bytes" <(tr -d '\r' <"$work/refuse.out") ||
    fail "a refused frame: $port_b did not succeed"
  unplug COM42

  # A port that goes away mid-transfer: that row ends with a message and a code, the other goes on.
  image3="$work/code3.bin"
  head -c 60000 /dev/urandom >"$image3"
  sim s43 --paced
  plug COM43 "$work/s43"
  wine "$vantor_exe" download -p COM43 -p "$port_b" "CODE=$(winpath "$image3")" \
    >"$work/gone.out" 2>&1 &
  gone_pid=$!
  sleep 3
  kill "${sims[-1]}"
  unplug COM43
  started=$SECONDS
  rc=0
  timeout 60 tail --pid="$gone_pid" -f /dev/null || fail "download with a vanished port did not end"
  wait "$gone_pid" || rc=$?
  tr -d '\r' <"$work/gone.out" | grep -E '^(COM43|COM7) ' || true
  echo "the port went away; the run ended $((SECONDS - started)) s later with exit $rc"
  ((rc == 1)) || fail "a vanished port: exit $rc, expected 1"
  grep -q "^COM43 .*system error" <(tr -d '\r' <"$work/gone.out") ||
    fail "a vanished port: no message for COM43"

  # Names that are no port: usage errors; a port that is not there: a failure with its reason.
  rc=0
  wine "$vantor_exe" download -p PhysicalDrive0 "CODE=$(winpath "$image2")" >"$work/name.out" 2>&1 || rc=$?
  ((rc == 2)) && echo "download -p PhysicalDrive0: exit 2: $(tr -d '\r' <"$work/name.out")" ||
    fail "download -p PhysicalDrive0: exit $rc, expected 2"
  rc=0
  wine "$vantor_exe" download -p COM99 "CODE=$(winpath "$image2")" >"$work/absent.out" 2>&1 || rc=$?
  ((rc == 1)) && echo "download -p COM99: exit 1: $(tr -d '\r' <"$work/absent.out" | tail -n 1)" ||
    fail "download -p COM99: exit $rc, expected 1"
  wine "$vantor_exe" ports -v | tr -d '\r' | sed 's/^/ports -v: /'

  # Ctrl+C twice (Wine passes SIGINT to the console control handler): the first stops taking new
  # devices, the second cancels the running one; exit 130.
  sim s44 --paced
  plug COM44 "$work/s44"
  wine "$vantor_exe" station --match COM44 "CODE=$(winpath "$image3")" >"$work/int.out" 2>&1 &
  int_pid=$!
  sleep 4
  kill -INT "$int_pid"
  sleep 1
  kill -INT "$int_pid"
  rc=0
  timeout 30 tail --pid="$int_pid" -f /dev/null || fail "station did not end after two Ctrl+C"
  wait "$int_pid" || rc=$?
  tr -d '\r' <"$work/int.out" | grep -E '^station: stopping|cancelled' || true
  ((rc == 130)) && echo "station after two Ctrl+C: exit 130" || fail "station after two Ctrl+C: exit $rc"
  unplug COM44
  for pid in "${sims[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  sims=()
fi

echo "== core tests as Windows programs"
while IFS= read -r exe; do
  echo "-- $(basename "$exe")"
  timeout 300 wine "$exe" --gtest_brief=1 || fail "$(basename "$exe")"
done < <(find "$win_build/tests" -name '*_tests.exe' -not -name win32_port_tests.exe \
  -not -path '*/CMakeFiles/*' -not -path '*/tests/ui/*' -not -path '*/tests/quorix/*' \
  -not -path '*/tests/pelion/*' | sort)

# The programs' tests as Windows programs, on the offscreen platform, their simulated devices on the
# null-modem pairs. Left out here, each for a reason of the test rig under Wine, not of the programs:
# - a COM port cannot be unplugged by a test (Wine keeps every mapped port listed, as Windows keeps
#   a com0com pair): Quorix's ToggleWithTheSelectedPortGone..., Pelion's PortListFollows... and
#   VirtualPortsInOrder (which add and remove ports of their own);
# - ReopenGivesUpAfterItsBound... reaches its port through a symbolic link, a POSIX path;
# - Pelion's FontsAreBold: under Wine, QFontInfo reports the bold fonts it matched as not bold;
# - the system menu needs a real window: AboutItemInTheSystemMenu runs in a second pass below, on
#   Windows' own platform plugin and a virtual X server.
# Wine passes QT_* variables to a program only as WINEQT_*; the test programs choose their platform
# themselves and take "-platform" on their command line.
if [[ -f "$win_build/tests/quorix/quorix_tests.exe" ]]; then
  echo "== the programs' tests as Windows programs (devices on $VANTOR_NULL_MODEM_PAIRS)"
  qt_bin="Z:${win_build//\//\\}\\qt6-mingw\\bin"
  # Runs one test program under Wine; prints its counts, and each failure's lines when it fails.
  run_qt_tests() {
    local exe=$1 log=$2
    shift 2
    if ! WINEPATH=$qt_bin VANTOR_TEST_THROWAWAY_DOCUMENTS=1 timeout 600 wine "$exe" \
        --gtest_brief=1 "$@" >"$log" 2>&1; then
      grep -B2 -A8 ': Failure$' "$log" | head -n 60 || true
      fail "$(basename "$exe")"
    fi
    grep -E '^\[  (PASSED|FAILED|SKIPPED) |^\[==========\] .* ran|^\[  FAILED  \] .*\(' "$log" ||
      tail -n 20 "$log" || true
  }
  no_port_unplug="*ToggleWithTheSelectedPortGone*:*PortListFollows*:*VirtualPortsInOrder*"
  for t in ui/ui_tests quorix/quorix_tests pelion/pelion_tests; do
    exe="$win_build/tests/$t.exe"
    echo "-- $(basename "$exe")"
    run_qt_tests "$exe" "$work/$(basename "$t").log" \
      "--gtest_filter=-$no_port_unplug:*ReopenGivesUpAfterItsBound*:*FontsAreBold*:*AboutItemInTheSystemMenu*"
  done
  if command -v Xvfb >/dev/null; then
    echo "-- the system menu's about items (platform windows, virtual X server)"
    menu_display=:$((90 + RANDOM % 100))
    Xvfb "$menu_display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    menu_xvfb=$!
    sleep 2
    for t in quorix/quorix_tests pelion/pelion_tests; do
      DISPLAY=$menu_display run_qt_tests "$win_build/tests/$t.exe" "$work/menu.log" \
        -platform windows "--gtest_filter=*AboutItemInTheSystemMenu*"
    done
    kill "$menu_xvfb" 2>/dev/null
    wait "$menu_xvfb" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
  fi
fi

if [[ -n "$archive" && -f "$unpacked/quorix.exe" ]]; then
  echo "== the archive's Quorix and Pelion"
  (cd "$unpacked" && find . -type f -printf '%10s  %P\n' | sort -k2)
  # Every DLL that a program or a DLL of the archive imports is in the archive or is Windows' own.
  system_dlls=$(echo kernel32 user32 gdi32 advapi32 shell32 shcore ole32 oleaut32 comdlg32 \
    comctl32 msvcrt ws2_32 winmm imm32 uxtheme dwmapi version shlwapi setupapi netapi32 userenv \
    mpr d3d9 d3d11 d3d12 dxgi dwrite d2d1 wtsapi32 authz | sed 's/\([^ ]*\)/\1.dll/g')
  while IFS= read -r pe; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$pe" | sed -n 's/^\s*DLL Name: //p'); do
      lower=${dll,,}
      # api-ms-win-*: Windows' API sets, answered by its own DLLs.
      if [[ " $system_dlls " != *" $lower "* && $lower != api-ms-win-* && ! -f "$unpacked/$dll" ]] &&
         ! (cd "$unpacked" && ls | grep -qix -- "$dll"); then
        fail "$(basename "$pe") imports $dll, which is neither in the archive nor Windows' own"
      fi
    done
  done < <(find "$unpacked" -iname '*.exe' -o -iname '*.dll')
  echo "imports: each in the archive or a Windows system DLL"
  for program in quorix pelion; do
    got=$(wine "$unpacked/$program.exe" --version | tr -d '\r')
    [[ "$got" == "$program $version" ]] && echo "$got" || fail "$program.exe --version: '$got'"
  done
  # As a technician does it, with the mouse and the keyboard: COM12 chosen, "offline" pressed to
  # connect, a file taken through "Load Binary File" (Windows' own chooser, the path typed), then
  # DOWNLOAD; the device's memory must hold the file. Positions are the dialog's own layout.
  quorix_download_through_its_window() {
    local window X Y WIDTH HEIGHT SCREEN i
    window=$(xdotool search --onlyvisible --name '^DOWNLOAD' | head -n 1)
    if [[ -z "$window" ]]; then
      fail "Quorix: no window to drive"
      return
    fi
    eval "$(xdotool getwindowgeometry --shell "$window")"
    click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; sleep "$3"; }
    head -c 7000 /dev/urandom >"$work/window.bin"
    click 78 22 1 # the port list; typing picks the port
    xdotool type --delay 100 "$port_a"
    xdotool key Return
    sleep 1
    click 178 22 4  # "offline": connect
    click 79 73 3   # "Load Binary File"
    xdotool type --delay 20 "Z:${work//\//\\}\\window.bin"
    xdotool key Return
    sleep 2
    click 343 52 1  # DOWNLOAD
    for i in $(seq 1 60); do
      device dump 0 108000 7000 "$work/window.read"
      if cmp -s "$work/window.bin" "$work/window.read"; then
        echo "Quorix: a file downloaded through its window is in the device's memory at 0x108000"
        sleep 2
        if [[ -n "${VANTOR_SCREENSHOT_DIR:-}" ]]; then
          import -window root "$VANTOR_SCREENSHOT_DIR/quorix-windows-download.png" 2>/dev/null || true
        fi
        return
      fi
      sleep 1
    done
    fail "Quorix: the file taken through its window did not reach the device"
  }
  # Each program's window on a virtual X server, from the fresh extraction.
  if command -v Xvfb >/dev/null && command -v import >/dev/null; then
    display=:$((90 + RANDOM % 100))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 2
    for program in quorix pelion; do
      DISPLAY=$display wine "$unpacked/$program.exe" >"$work/$program.out" 2>&1 &
      pid=$!
      sleep 8
      shot="$work/$program-windows.png"
      DISPLAY=$display import -window root -crop 1024x768+0+0 "$shot" 2>/dev/null ||
        fail "$program: no screenshot"
      if kill -0 "$pid" 2>/dev/null; then
        echo "$program.exe runs; screenshot $shot"
        if [[ -n "${VANTOR_SCREENSHOT_DIR:-}" ]]; then cp "$shot" "$VANTOR_SCREENSHOT_DIR/"; fi
        if [[ $program == quorix ]] && command -v xdotool >/dev/null; then
          DISPLAY=$display quorix_download_through_its_window
        fi
      else
        fail "$program.exe ended at start: $(cat "$work/$program.out")"
      fi
      kill "$pid" 2>/dev/null || true
      wineserver -k 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    done
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null || true
  fi
fi

verdict wine_tests
