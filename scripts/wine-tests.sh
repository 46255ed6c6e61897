#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 and runs them under Wine:
#   1. the Qt-free unit tests, through ctest;
#   2. port discovery (loader-cli.exe ports) and the serial device layer's own tests on a
#      Wine COM port whose other end is a native echoing pseudo-terminal;
#   3. an end-to-end `loader-cli.exe flash` of a HEX file in a Cyrillic folder, under the
#      Russian code page, to two native device simulators (bootsim) at once: both images,
#      the prompt's text and each port's progress; then the console's text on a terminal;
#   4. the window, loader.exe, driven with xdotool on a display of its own (Xvfb): first run,
#      a restored port and file flashed to bootsim, a wrong sum, and a Cyrillic folder read
#      from an INI file in the ANSI code page; a file with a wrong checksum asked about
#      (Esc sends nothing, «Да» flashes), the prompt's Esc
#      ending the wait, Ctrl+Q in a transfer asking first; one screenshot into docs/.
# Needs: scripts/install-deps.sh all (MinGW-w64 posix, wine, wine64, Xvfb, xdotool,
# ImageMagick), gcc, cmake, ninja, the ru_RU.UTF-8 locale (generated here when missing).
# Environment: LOADER_WINE_DISPLAY (the display number, default 57).
# Environment: BUILD_WIN (cross build folder, default build-win), BUILD_NATIVE (native
# build for bootsim, default build-windows-native), JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build_win=${BUILD_WIN:-build-win}
build_native=${BUILD_NATIVE:-build-windows-native}
jobs=${JOBS:-$(nproc)}
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

say() { printf '\n== wine-tests: %s\n' "$*"; }
fail() {
  printf 'wine-tests: FAILED: %s\n' "$*" >&2
  exit 1
}

for tool in x86_64-w64-mingw32-g++-posix wine wineserver gcc cmake Xvfb xdotool import; do
  command -v "$tool" >/dev/null || fail "$tool is missing (run scripts/install-deps.sh all)"
done
# Wine takes the ANSI code page from the locale; the Cyrillic case needs ru_RU.UTF-8.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 || fail "cannot generate the ru_RU.UTF-8 locale"
fi

# --- build ------------------------------------------------------------------------------
say "cross-building into $build_win"
cmake -S . -B "$build_win" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOADER_WERROR=ON >/dev/null
cmake --build "$build_win" -j "$jobs"
win=$(cd "$build_win" && pwd)
cli_exe=$win/tools/loader-cli/loader-cli.exe
[ -f "$cli_exe" ] || fail "loader-cli.exe was not built"
gui_exe=$win/src/win32face/loader.exe
[ -f "$gui_exe" ] || fail "loader.exe was not built"

say "native helpers: bootsim, the echoing pseudo-terminal and the modem-line shim"
cmake -S . -B "$build_native" "${gen[@]}" -DLOADER_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLOADER_WERROR=ON \
  >/dev/null
cmake --build "$build_native" -j "$jobs" --target bootsim
bootsim=$(cd "$build_native" && pwd)/tools/bootsim/bootsim
native=$win/native
mkdir -p "$native"
gcc -O2 -Wall -Wextra -Werror -shared -fPIC -o "$native/ptyshim.so" tests/wine/ptyshim.c -ldl
gcc -O2 -Wall -Wextra -Werror -o "$native/pty_echo" tests/wine/pty_echo.c

# --- Wine -------------------------------------------------------------------------------
export WINEPREFIX=$win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
pids=()
mapped=()
# Wine's windows are X windows: a display of the run's own, no window manager needed. The
# unit tests show message boxes too, so it serves the whole run.
display=:${LOADER_WINE_DISPLAY:-57}
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do
  xdotool getmouselocation >/dev/null 2>&1 && break
  sleep 0.05
done
xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb did not start on $display"
cleanup() {
  # Unmap the ports: a COM port left on a vanished pseudo-terminal keeps Wine's device
  # service busy in later sessions of this prefix.
  for port in "${mapped[@]}"; do
    timeout 30 wine reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f >/dev/null 2>&1 || true
  done
  wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# One wineserver for the whole run, kept alive between programs. Wine's background services
# start with the first program; they must not inherit ctest's output pipes (ctest would wait
# for them to close), so the first program runs with its output elsewhere.
start_wine() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  (setsid wineserver -f -p </dev/null >>"$win/wineserver.log" 2>&1 &)
  sleep 0.5
  wine wineboot -i </dev/null >>"$win/wineboot.log" 2>&1 || fail "wineboot (see $win/wineboot.log)"
}

# The first line a native helper prints: its pseudo-terminal's path.
first_line() {
  local file=$1 line=
  for _ in $(seq 100); do
    line=$(head -n 1 "$file" 2>/dev/null || true)
    [ -n "$line" ] && break
    sleep 0.05
  done
  [ -n "$line" ] || fail "no pseudo-terminal path in $file"
  printf '%s' "$line"
}

say "Wine prefix $WINEPREFIX"
start_wine

# COM6: a line that sends back every byte. It lives for the whole run (stdin held open).
# Each helper reads a pipe of its own that stays open and silent.
mkfifo "$work/echo.in" "$work/sim.in"
exec 7<>"$work/echo.in" 8<>"$work/sim.in"
"$native/pty_echo" <&7 >"$work/echo.out" &
pids+=($!)
echo_pty=$(first_line "$work/echo.out")

# COM5 and COM10: the device simulators loader-cli flashes at once, switched on later by
# SIGUSR1; COM5's announces three times at once, before the loader reads.
head -c 1000 /dev/urandom >"$work/payload.dat" # any bytes: the image to write
"$bootsim" --no-publish --once --announce-burst 3 --out "$work/received.bin" <&8 \
  >"$work/bootsim.out" 2>"$work/bootsim.err" &
bootsim_pid=$!
pids+=("$bootsim_pid")
sim_pty=$(first_line "$work/bootsim.out")
"$bootsim" --no-publish --once --out "$work/received10.bin" <&8 \
  >"$work/bootsim10.out" 2>"$work/bootsim10.err" &
bootsim10_pid=$!
pids+=("$bootsim10_pid")
sim10_pty=$(first_line "$work/bootsim10.out")

# COM7, COM8, COM9: a device simulator each for the window: a clean transfer (announcing
# three times at once), a wrong sum in the first block, and the Cyrillic folder. Each is
# switched on by SIGUSR1 (gui_power).
gui_sim() { # port, then bootsim's options
  local port=$1
  shift
  mkfifo "$work/$port.in"
  exec {fd}<>"$work/$port.in"
  "$bootsim" --no-publish --once "$@" <&$fd >"$work/$port.out" 2>"$work/$port.err" &
  pids+=($!)
  eval "${port}_pid=$!"
  eval "${port}_pty=\$(first_line \"$work/$port.out\")"
}
gui_sim COM7 --announce-burst 3 --out "$work/gui-received.bin"
gui_sim COM8 --wrong-sum-at 0
gui_sim COM9 --out "$work/gui-ru-received.bin"
gui_sim COM12 --out "$work/gui-sum-received.bin"
gui_sim COM11 --pace --out "$work/gui-stop-received.bin"

# Wine maps a COM port to a device from this key when it starts.
mapped=(COM5 COM6 COM7 COM8 COM9 COM10 COM11 COM12)
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$sim_pty" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM10 /d "$sim10_pty" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$echo_pty" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$COM7_pty" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM8 /d "$COM8_pty" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM9 /d "$COM9_pty" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$COM12_pty" /f >/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM11 /d "$COM11_pty" /f >/dev/null
start_wine
echo "COM5 -> $sim_pty, COM10 -> $sim10_pty (bootsim), COM6 -> $echo_pty (echo), COM7..COM9, COM11, COM12 -> bootsim (window)"

status=0

say "unit tests (ctest)"
# Every test is a Wine process of its own, and on a loaded machine Wine now and then loses
# one at start-up (a deterministic arithmetic test once failed in 0.1 s and never again).
# The full log goes to a file; a failure prints its output last, where a cut log still
# shows it, and the failed tests run once more, one at a time. A test that fails again
# fails the stage; one that passes is named, so a real flake in our code stays visible.
log=$win/ctest.log
if (cd "$win" && ctest --output-on-failure -j "$jobs" >"$log" 2>&1); then
  grep -E 'tests passed|Total Test time' "$log" || true
else
  # Each failed test's block: from its result line up to the next result or start line.
  awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .*\*\*\*/ { show = 1; print; next }
       /^ *[0-9]+\/[0-9]+ Test +#|^ +Start +[0-9]+:/ { show = 0 }
       show' "$log"
  sed -n '/tests passed, /,$p' "$log"
  say "unit tests: the failed ones once more, one at a time"
  if (cd "$win" && ctest --rerun-failed --output-on-failure -j 1); then
    echo "wine-tests: WARNING: the tests above failed once under Wine and passed when run again"
  else
    status=1
  fi
fi

# Wine's serial wait asks for the modem lines, which a pseudo-terminal does not have; the
# shim answers that request (see tests/wine/ptyshim.c).
with_shim() { LD_PRELOAD=$native/ptyshim.so "$@"; }

say "port discovery: loader-cli.exe ports"
ports=$(wine "$cli_exe" ports | tr -d '\r') || fail "loader-cli.exe ports failed"
printf '%s\n' "$ports"
grep -qx COM5 <<<"$ports" || { echo "COM5 is not listed" >&2; status=1; }
grep -qx COM6 <<<"$ports" || { echo "COM6 is not listed" >&2; status=1; }

say "serial device layer on COM6, port discovery"
for test in ser_device_wine_test win32_layers_test; do
  exe=$win/tests/wine/$test.exe
  if [ -f "$exe" ]; then
    with_shim env LOADER_WINE_ECHO_PORT=COM6 LOADER_WINE_COM_PORTS=COM5,COM6 \
      timeout 120 wine "$exe" --gtest_brief=1 || status=1
  else
    echo "$test.exe was not built (is tests/wine in the build?)" >&2
    status=1
  fi
done

# Intel HEX of a binary file: 16 data bytes a record, then the end record.
hex_of() {
  od -An -v -tu1 -w16 "$1" | awk '
    { n = NF; addr = (NR - 1) * 16; sum = n + int(addr / 256) + addr % 256
      line = sprintf(":%02X%04X00", n, addr)
      for (i = 1; i <= n; i++) { sum += $i; line = line sprintf("%02X", $i) }
      printf "%s%02X\r\n", line, (256 - sum % 256) % 256 }
    END { print ":00000001FF\r" }'
}

say "end to end: loader-cli.exe flash of a Cyrillic path on COM5 and COM10 against bootsim"
# The image's HEX file, in a folder whose name the Russian ANSI code page cannot take from a UTF-8 command line as it stands.
mkdir -p "$work/Прошивка"
hex_of "$work/payload.dat" >"$work/Прошивка/образ.hex"
(
  cd "$work"
  with_shim env LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 timeout 120 wine "$cli_exe" flash \
    -p COM5 -pCOM10 --timeout 30 Прошивка/образ.hex >"$work/cli.out" 2>"$work/cli.err"
) &
cli_pid=$!
sleep 3 # the loader opens the ports; an early announcement waits in the line's queue
kill -USR1 "$bootsim_pid" "$bootsim10_pid"
cli_status=0
wait "$cli_pid" || cli_status=$?
sim_status=0
wait "$bootsim_pid" || sim_status=$?
wait "$bootsim10_pid" || sim_status=$?
tr -d '\r' <"$work/cli.err" | tail -n 6
if [ "$cli_status" -ne 0 ] || [ "$sim_status" -ne 0 ]; then
  echo "loader-cli.exe exit $cli_status, bootsim exit $sim_status" >&2
  cat "$work/bootsim.err" "$work/bootsim10.err" >&2
  status=1
else
  # Each device receives the image, then zeros up to the next 128-byte block.
  cp "$work/payload.dat" "$work/expected.bin"
  head -c 24 /dev/zero >>"$work/expected.bin"
  if cmp "$work/expected.bin" "$work/received.bin" && cmp "$work/expected.bin" "$work/received10.bin"; then
    echo "both devices received the image byte for byte"
  else
    status=1
  fi
fi
# Redirected output is UTF-8 as the program writes it: the prompt's text, and each port's
# progress on lines of its own, up to its last block, with no cursor sequence among them.
cli_check() { # what, then grep's options and pattern
  local what=$1
  shift
  grep -q "$@" "$work/cli.err" || { echo "loader-cli.exe: no $what in its output" >&2; status=1; }
}
cli_check "prompt" -F "Включи питание"
cli_check "last progress line of COM5" -F "[COM5] 100% | block 8 of 8"
cli_check "last progress line of COM10" -F "[COM10] 100% | block 8 of 8"
if grep -q $'\x1b' "$work/cli.err"; then
  echo "loader-cli.exe wrote cursor sequences into a file" >&2
  status=1
fi

say "loader-cli.exe on a console: Cyrillic text under the Russian code page"
# A terminal makes Wine give the program a console; the error names the Cyrillic path,
# which must come out as it is, not as its UTF-8 bytes read in a code page. Wine draws
# the console with cursor sequences: they are taken out before looking.
console=$(cd "$work" && LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 timeout 60 \
  script -qec "wine '$cli_exe' convert Прошивка/нет.hex" /dev/null |
  sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | tr -d '\r') || true
if grep -qF 'Прошивка\нет.hex' <<<"$console"; then
  echo "the console shows the Cyrillic path"
else
  printf 'loader-cli.exe on a console: no Cyrillic path in\n%s\n' "$console" >&2
  status=1
fi

# --- the window ---------------------------------------------------------------------------
gui_fail() {
  echo "window: $*" >&2
  status=1
}
# Waits (at most 60 s) for a window whose title matches; prints its id.
gui_window() {
  timeout 60 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1
}
# Starts loader.exe in a folder of its own (the program, its INI file, its HEX file).
gui_start() { # folder, then environment assignments for Wine
  local folder=$1
  shift
  cp "$gui_exe" "$folder/loader.exe"
  (cd "$folder" && with_shim env "$@" timeout 300 wine loader.exe >"$folder/wine.log" 2>&1) &
  gui_pid=$!
}
gui_stop() {
  timeout 30 wine taskkill /f /im loader.exe >/dev/null 2>&1 || true
  wait "$gui_pid" 2>/dev/null || true
}
ini_line() { printf '%s\r\n' "$@"; }
# The INI text of a window that chose the port and the HEX file before.
saved_settings() { # port, HEX file
  ini_line '[PortName]' "Name=$1" '[FileName]'
  ini_line "Name=$(winepath -w "$2" | tr -d '\r')"
}
# A program folder with its own copy of the HEX file, saved as chosen with the port.
gui_folder() { # folder, port
  mkdir -p "$1"
  cp "$work/image.hex" "$1/image.hex"
  saved_settings "$2" "$1/image.hex" >"$1/loader.ini"
}
# Powers the device on once the window has opened the port (as for loader-cli above), and
# ends a simulator that is still waiting two minutes later, so the run cannot hang.
gui_power() { # bootsim's pid
  sleep 3
  kill -USR1 "$1"
  (sleep 120 && kill "$1" 2>/dev/null) &
}

# The device receives the image, then zeros up to the next 128-byte block. The window's
# folders take copies of the HEX file loader-cli.exe flashed.
cp "$work/payload.dat" "$work/expected.bin"
head -c 24 /dev/zero >>"$work/expected.bin"
cp "$work/Прошивка/образ.hex" "$work/image.hex"

say "window (a): first run in an empty folder"
mkdir -p "$work/gui-a"
gui_start "$work/gui-a"
if [ -n "$(gui_window '^Выбери файл \(\*\.hex\) для загрузки$')" ] &&
  box=$(gui_window '^Загрузчик$') && [ -n "$box" ]; then
  echo "the file dialog is open, the box «Загрузчик» over it"
else
  gui_fail "no file dialog with the box «Загрузчик» over it"
fi
gui_stop

say "window (b): saved port and file restored, F5 flashes to bootsim"
gui_folder "$work/gui-b" COM7
gui_start "$work/gui-b"
if main=$(gui_window '^image\.hex$') && [ -n "$main" ]; then
  echo "the main window is captioned with the file's name"
  sleep 1 # the window takes its first paint
  import -window root -crop "$(xdotool getwindowgeometry --shell "$main" |
    awk -F= '/^(WIDTH|HEIGHT|X|Y)=/ { v[$1] = $2 }
             END { printf "%dx%d+%d+%d", v["WIDTH"], v["HEIGHT"], v["X"], v["Y"] }')" \
    +repage "$root/docs/screenshot-windows.png" || gui_fail "no screenshot"
  xdotool windowfocus --sync "$main" key F5
  gui_power "$COM7_pid"
  if wait "$COM7_pid"; then
    if cmp "$work/expected.bin" "$work/gui-received.bin"; then
      echo "the device received the image byte for byte"
    else
      gui_fail "the device received another image"
    fi
  else
    gui_fail "bootsim on COM7 failed: $(cat "$work/COM7.err")"
  fi
else
  gui_fail "the main window is not captioned image.hex"
fi
gui_stop

say "window (b): a wrong sum gives «Ошибка ответа» and the window stays usable"
gui_folder "$work/gui-e" COM8
gui_start "$work/gui-e"
if main=$(gui_window '^image\.hex$') && [ -n "$main" ]; then
  xdotool windowfocus --sync "$main" key F5
  gui_power "$COM8_pid"
  if box=$(gui_window '^Загрузчик$') && [ -n "$box" ]; then
    echo "the box «Загрузчик» (Ошибка ответа) is shown"
    xdotool windowfocus --sync "$box" key Return
    sleep 1
    # The window answers again: Ctrl+Q closes it, which ends the program.
    xdotool windowfocus --sync "$main" key ctrl+q
    for _ in $(seq 150); do
      kill -0 "$gui_pid" 2>/dev/null || break
      sleep 0.2
    done
    if ! kill -0 "$gui_pid" 2>/dev/null; then
      echo "Ctrl+Q closed the window afterwards"
    else
      gui_fail "the window did not close on Ctrl+Q after the error"
    fi
  else
    gui_fail "no box after the wrong sum"
  fi
else
  gui_fail "the main window is not captioned image.hex"
fi
gui_stop

say "window (c): a Cyrillic folder from an INI file in the ANSI code page (Windows-1251)"
ru=$work/gui-c/прошивка
mkdir -p "$ru"
cp "$work/image.hex" "$ru/image.hex"
saved_settings COM9 "$ru/image.hex" | iconv -f UTF-8 -t CP1251 >"$work/gui-c/loader.ini"
gui_start "$work/gui-c" LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
if main=$(gui_window '^image\.hex$') && [ -n "$main" ]; then
  echo "the file in the Cyrillic folder was restored"
  xdotool windowfocus --sync "$main" key F5
  gui_power "$COM9_pid"
  if wait "$COM9_pid" && cmp "$work/expected.bin" "$work/gui-ru-received.bin"; then
    echo "the device received the image byte for byte"
  else
    gui_fail "the flash from the Cyrillic folder failed: $(cat "$work/COM9.err")"
  fi
  # Restored, not chosen in the dialog: the image lands in the start-up folder.
  [ -f "$work/gui-c/image.BIN" ] || gui_fail "the image was not written beside loader.exe"
  # Choosing the file again (Ctrl+O, the dialog opens in the start-up folder) saves it back
  # in the ANSI code page; the file name is taken out of the INI file first.
  { ini_line '[PortName]' 'Name=COM9'; } >"$work/gui-c/loader.ini"
  xdotool windowfocus --sync "$main" key ctrl+o
  if dialog=$(gui_window '^Выбери файл') && [ -n "$dialog" ]; then
    xdotool windowfocus --sync "$dialog" type --delay 50 "прошивка\\image.hex"
    xdotool key --delay 100 Return
    sleep 2
    if iconv -f CP1251 -t UTF-8 "$work/gui-c/loader.ini" | grep -q 'прошивка\\image\.hex'; then
      echo "the choice was saved back in Windows-1251"
    else
      gui_fail "loader.ini does not hold the Cyrillic path in Windows-1251"
      od -c "$work/gui-c/loader.ini" | head >&2
    fi
  else
    gui_fail "Ctrl+O did not open the file dialog"
  fi
else
  gui_fail "the file in the Cyrillic folder was not restored"
fi
gui_stop

# Whether the window's process has ended within 30 s.
gui_ended() {
  for _ in $(seq 150); do
    kill -0 "$gui_pid" 2>/dev/null || return 0
    sleep 0.2
  done
  return 1
}
# Whether a file is missing or empty: nothing reached the device.
nothing_sent() { [ ! -s "$1" ]; }
# Whether no box «Загрузчик» is open any more, within 5 s (Wine takes a moment to unmap it).
no_box() {
  for _ in $(seq 25); do
    [ -z "$(xdotool search --onlyvisible --name '^Загрузчик$' 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  return 1
}

say "window (d): a file with a wrong checksum is asked about; Esc sends nothing, «Да» flashes"
gui_folder "$work/gui-d" COM12
# The second record's checksum one higher: the data stays as it was.
awk 'function hex(t) { return index("0123456789ABCDEF", t) - 1 }
     NR == 2 { s = substr($0, length($0) - 2, 2)
               v = (16 * hex(substr(s, 1, 1)) + hex(substr(s, 2, 1)) + 1) % 256
               $0 = substr($0, 1, length($0) - 3) sprintf("%02X", v) "\r" } { print }' \
  "$work/image.hex" >"$work/gui-d/image.hex"
gui_start "$work/gui-d"
if main=$(gui_window '^image\.hex$') && [ -n "$main" ]; then
  xdotool windowfocus --sync "$main" key F5
  if box=$(gui_window '^Загрузчик$') && [ -n "$box" ]; then
    echo "the question «Загрузчик» is shown"
    sleep 1 # the dialog takes the keyboard once it is drawn
    xdotool windowfocus --sync "$box" key Escape
    sleep 1
    no_box || gui_fail "Esc did not close the question"
    # Nothing sent and the window idle: the next start asks again.
    nothing_sent "$work/gui-sum-received.bin" || gui_fail "Esc on the question still flashed"
    xdotool windowfocus --sync "$main" key F5
    if box=$(gui_window '^Загрузчик$') && [ -n "$box" ]; then
      # «Нет» has the focus; «Да» is the button before it.
      sleep 1
      xdotool windowfocus --sync "$box" key shift+Tab key Return
      gui_power "$COM12_pid"
      if wait "$COM12_pid" && cmp "$work/expected.bin" "$work/gui-sum-received.bin"; then
        echo "«Да» flashed the file as it converts"
      else
        gui_fail "«Да» did not flash the file: $(cat "$work/COM12.err")"
      fi
    else
      gui_fail "no question on the second start"
    fi
  else
    gui_fail "no question before a file with a wrong checksum"
  fi
else
  gui_fail "the main window is not captioned image.hex"
fi
gui_stop

say "window (e): Esc on the prompt ends the wait; Ctrl+Q in a transfer asks first"
mkdir -p "$work/gui-s"
head -c 3000 /dev/urandom >"$work/stop.dat"
hex_of "$work/stop.dat" >"$work/gui-s/image.hex"
saved_settings COM11 "$work/gui-s/image.hex" >"$work/gui-s/loader.ini"
gui_start "$work/gui-s"
if main=$(gui_window '^image\.hex$') && [ -n "$main" ]; then
  xdotool windowfocus --sync "$main" key F5
  sleep 2
  xdotool key Escape # the prompt has the focus
  sleep 1
  kill -USR1 "$COM11_pid"
  sleep 3
  nothing_sent "$work/gui-stop-received.bin" || gui_fail "Esc on the prompt still flashed"
  xdotool windowfocus --sync "$main" key F5
  gui_power "$COM11_pid"
  sleep 3 # the paced transfer takes about 10 s
  xdotool windowfocus --sync "$main" key ctrl+q
  if box=$(gui_window '^Загрузчик$') && [ -n "$box" ]; then
    echo "Ctrl+Q in the transfer asks first"
    sleep 1
    xdotool windowfocus --sync "$box" key Escape
    sleep 1
    no_box || gui_fail "Esc did not close the question"
    cp "$work/stop.dat" "$work/stop-expected.bin"
    head -c $((128 - 3000 % 128)) /dev/zero >>"$work/stop-expected.bin"
    if wait "$COM11_pid" && cmp "$work/stop-expected.bin" "$work/gui-stop-received.bin"; then
      echo "Esc on the question let the transfer finish"
    else
      gui_fail "the transfer did not finish after Esc: $(cat "$work/COM11.err")"
    fi
    # Ready again, nothing being sent: Ctrl+Q closes without a question.
    sleep 1
    xdotool windowfocus --sync "$main" key ctrl+q
    gui_ended || gui_fail "Ctrl+Q after the transfer did not close the window"
  else
    gui_fail "Ctrl+Q in the transfer asked nothing"
  fi
else
  gui_fail "the main window is not captioned image.hex"
fi
gui_stop

[ "$status" -eq 0 ] || fail "see the output above"
say "all Windows checks passed under Wine"
