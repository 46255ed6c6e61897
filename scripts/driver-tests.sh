#!/usr/bin/env bash
# Driver bench: flashes the simulated device (bootsim) from inside a small Linux guest under
# QEMU, once through the kernel's 8250 UART driver (an emulated 16550, the guest's ttyS1) and
# once through ftdi_sio (an emulated FT232 on xHCI, the guest's ttyUSB0), so that the loader
# meets real serial drivers rather than a pseudo-terminal. For each driver it checks:
#   - bootsim received the converted image byte for byte;
#   - from QEMU's trace, what the driver programmed while the loader held the port:
#     10400 bit/s within 1 %, 8N1, no flow control, DTR and RTS off;
#   - `loader-cli ports --long` in the guest lists the port (the FT232 with its USB ids);
# and prints the bit rate, how long DTR and RTS were raised at open, and the FT232's latency
# timer requests.
#
# Usage: scripts/driver-tests.sh [BUILD_DIR]   (default build; needs loader-cli and bootsim)
# Needs: scripts/install-deps.sh drivers (qemu-system-x86, busybox-static, cpio, kmod).
# The kernel is Debian's linux-image-amd64, fetched with apt-get download and unpacked (not
# installed) into LOADER_DRIVER_CACHE (default ~/.cache/loader-driver-bench).
# Environment: LOADER_DRIVER_TIMEOUT, seconds one guest may run (default 50);
# LOADER_DRIVER_KEEP=1 keeps the work folder (traces, consoles) for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
cli=$build/tools/loader-cli/loader-cli
sim=$build/tools/bootsim/bootsim
hex=examples/blink.hex
cache=${LOADER_DRIVER_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/loader-driver-bench}
limit=${LOADER_DRIVER_TIMEOUT:-50}
started=$SECONDS

say() { printf '== driver-tests: %s\n' "$*"; }
die() {
  printf 'driver-tests: FAIL: %s\n' "$*" >&2
  exit 1
}

# depmod lives in sbin, which a user's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin
for tool in qemu-system-x86_64 busybox cpio depmod dpkg-deb apt-get ldd timeout; do
  command -v "$tool" >/dev/null || die "$tool is missing (run scripts/install-deps.sh drivers)"
done
[ -x "$cli" ] && [ -x "$sim" ] || die "build loader-cli and bootsim in $build first"
busybox_bin=$(command -v busybox)
case "$(ldd "$busybox_bin" 2>&1 || true)" in
  *"not a dynamic"* | *"statically linked"*) ;;
  *) die "$busybox_bin is not static (busybox-static)" ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/driver-tests.XXXXXX")
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  if [ -n "${LOADER_DRIVER_KEEP:-}" ]; then
    echo "driver-tests: the work folder stays: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# --- the kernel ---------------------------------------------------------------------------
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n 1)
[ -n "$package" ] || die "apt knows no linux-image-amd64 (run apt-get update)"
kroot=$cache/$package
if [ ! -f "$kroot/.complete" ]; then
  say "fetching $package into $cache"
  rm -rf "$kroot"
  mkdir -p "$kroot"
  (cd "$cache" && apt-get download -q "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  deb=$(ls "$cache/${package}_"*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || die "apt-get download $package gave no package"
  dpkg-deb -x "$deb" "$kroot"
  rm -f "$deb"
  kver=$(ls "$kroot/lib/modules")
  depmod -b "$kroot" "$kver"
  touch "$kroot/.complete"
fi
kver=$(ls "$kroot/lib/modules")
vmlinuz=$kroot/boot/vmlinuz-$kver
moddir=$kroot/lib/modules/$kver
[ -f "$vmlinuz" ] && [ -f "$moddir/modules.dep" ] || die "incomplete kernel in $kroot"

# --- the guest's initramfs ----------------------------------------------------------------
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,mod}
cp "$busybox_bin" "$root/bin/busybox"
cp "$cli" "$root/bin/loader-cli"
cp "$hex" "$root/image.hex"
# The program's shared libraries and the dynamic loader, at the paths ldd names.
ldd "$cli" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' |
  while read -r lib; do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
# The USB serial path: the host controller, usbserial and ftdi_sio with what they need, in
# the order modules.dep gives (dependencies last there, so loaded first here).
: >"$root/mod/order"
for module in xhci-pci ftdi_sio; do
  line=$(grep -E "(^|/)$module\.ko(\.[a-z]+)?:" "$moddir/modules.dep") ||
    die "$module is not in $moddir/modules.dep"
  read -r -a parts <<<"${line/:/}"
  for ((i = ${#parts[@]} - 1; i >= 0; i--)); do
    ko=${parts[i]}
    name=$(basename "$ko")
    case "$name" in *.ko) ;; *) die "$name: compressed modules are not handled" ;; esac
    grep -qx "$name" "$root/mod/order" && continue
    cp "$moddir/$ko" "$root/mod/$name"
    echo "$name" >>"$root/mod/order"
  done
done
cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
port=$(sed -n 's/.*bench_port=\([^ ]*\).*/\1/p' /proc/cmdline)
case "$port" in ttyUSB*) for m in $(cat /mod/order); do insmod "/mod/$m" || echo "BENCH insmod $m failed"; done ;; esac
n=0
while [ ! -e "/dev/$port" ] && [ $n -lt 100 ]; do usleep 100000; n=$((n + 1)); done
echo "BENCH ports-begin"
loader-cli ports --long
echo "BENCH ports-end $?"
echo "BENCH flash-begin"
loader-cli flash -q --timeout 20 -p "/dev/$port" /image.hex
echo "BENCH flash-end $?"
sync
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"

# The image as the device must receive it: the converted file, then zeros up to the next
# multiple of 128 (a whole block of them when it already is one), the loader's closing block.
mkdir -p "$work/image"
"$cli" convert -o "$work/image" "$hex" >/dev/null
image=$(ls "$work"/image/*.BIN)
cp "$image" "$work/expected"
size=$(stat -c %s "$image")
head -c $((128 - size % 128)) /dev/zero >>"$work/expected"

# Lines of QEMU's console with the host's time in front, to place the guest's steps among
# the trace's events.
stamp() {
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "${line%$'\r'}"; done
}

# --- one guest run per driver ---------------------------------------------------------
failures=0
fail() {
  printf 'driver-tests: FAIL [%s] %s\n' "$1" "$2" >&2
  failures=$((failures + 1))
}

run_driver() {
  local driver=$1 port=$2
  local dir=$work/$driver
  mkdir -p "$dir"
  "$sim" --no-publish --announce-every 500 --once --out "$dir/received" >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  local pty= n=0
  while [ -z "$pty" ] && [ $n -lt 50 ]; do
    pty=$(head -n 1 "$dir/sim.out" 2>/dev/null || true)
    [ -n "$pty" ] || sleep 0.1
    n=$((n + 1))
  done
  [ -n "$pty" ] || {
    fail "$driver" "bootsim printed no terminal"
    return
  }
  local device=()
  case "$driver" in
    8250) device=(-serial chardev:dev) ;;
    ftdi_sio) device=(-device qemu-xhci -device usb-serial,chardev=dev) ;;
  esac
  local t0=$SECONDS rc=0
  timeout --kill-after=5 "$limit" qemu-system-x86_64 -accel tcg -m 256 -nodefaults -no-reboot \
    -display none -monitor none -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
    -append "console=ttyS0,115200 quiet panic=-1 bench_port=$port" \
    -chardev stdio,id=con,signal=off -serial chardev:con \
    -chardev serial,id=dev,path="$pty" "${device[@]}" \
    -msg timestamp=on -D "$dir/trace" \
    -trace serial_update_parameters -trace serial_write -trace 'usb_serial_*' \
    </dev/null 2>"$dir/qemu.err" | stamp >"$dir/console" || rc=$?
  local seconds=$((SECONDS - t0))
  # bootsim ends by itself after the finish command; one that is still waiting has failed.
  local sim_rc=0 w=0
  while kill -0 "$sim_pid" 2>/dev/null && [ $w -lt 20 ]; do
    sleep 0.1
    w=$((w + 1))
  done
  if kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_rc=timeout
  else
    wait "$sim_pid" || sim_rc=$?
  fi
  sim_pid=
  case "$rc" in
    0) ;;
    124 | 137) fail "$driver" "the guest did not finish within ${limit}s" ;;
    *) fail "$driver" "qemu ended with status $rc" ;;
  esac
  if [ "$rc" != 0 ]; then
    sed "s/^[0-9.]* /[$driver] guest: /" "$dir/console" | tail -n 20 >&2
    return
  fi
  [ -s "$dir/qemu.err" ] && sed "s/^/[$driver] qemu: /" "$dir/qemu.err" >&2

  local flash
  flash=$(sed -n 's/^[0-9.]* BENCH flash-end \([0-9]*\)$/\1/p' "$dir/console")
  if [ "$flash" != 0 ]; then
    fail "$driver" "loader-cli flash ended with status '${flash:-none}'"
    sed "s/^[0-9.]* /[$driver] guest: /" "$dir/console" >&2
  fi
  [ "$sim_rc" = 0 ] || fail "$driver" "bootsim ended with status $sim_rc: $(cat "$dir/sim.err")"
  if [ -f "$dir/received" ] && cmp -s "$dir/received" "$work/expected"; then
    :
  else
    fail "$driver" "bootsim did not receive the image byte for byte ($(stat -c %s "$dir/received" 2>/dev/null || echo 0) of $(stat -c %s "$work/expected") bytes)"
  fi

  # The port list, from between the guest's markers.
  local ports
  ports=$(sed -n '/BENCH ports-begin/,/BENCH ports-end/p' "$dir/console" | sed 's/^[0-9.]* //')
  local listed
  listed=$(printf '%s\n' "$ports" | grep -E "^$port([[:space:]]|$)" || true)
  if [ -z "$listed" ]; then
    fail "$driver" "loader-cli ports --long does not list $port: $ports"
  elif [ "$driver" = ftdi_sio ] && ! grep -q '0403:6001' <<<"$listed"; then
    fail "$driver" "loader-cli ports --long gives no USB ids for $port: $listed"
  fi

  # The driver's programming while loader-cli held the port.
  local begin end
  begin=$(awk '$2 == "BENCH" && $3 == "flash-begin" { print $1 }' "$dir/console")
  end=$(awk '$2 == "BENCH" && $3 == "flash-end" { print $1 }' "$dir/console")
  if [ -z "$begin" ] || [ -z "$end" ]; then
    fail "$driver" "no flash in the guest's console"
    return
  fi
  local verdict
  verdict=$(awk -v begin="$begin" -v end="$end" -v driver="$driver" -f scripts/driver-trace.awk "$dir/trace")
  printf '%s\n' "$verdict" | grep -v '^FAIL' | sed "s/^/  [$driver] /"
  while IFS= read -r problem; do fail "$driver" "${problem#FAIL }"; done < <(printf '%s\n' "$verdict" | grep '^FAIL' || true)
  printf '  [%s] guest run: %ds\n' "$driver" "$seconds"
}

say "kernel $kver, image $(basename "$image") ($size bytes)"
run_driver 8250 ttyS1
run_driver ftdi_sio ttyUSB0
total=$((SECONDS - started))
if [ "$failures" -ne 0 ]; then
  printf 'driver-tests: FAIL (%d problems, %ds)\n' "$failures" "$total" >&2
  exit 1
fi
printf 'driver-tests: PASS (both drivers, %ds)\n' "$total"
