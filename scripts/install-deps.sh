#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing and we may.
# Usage: install-deps.sh [gui|wine|fuzz|zip|package|drivers|all]...   (the base set is always checked)
set -euo pipefail

base=(cmake g++ make ninja-build libgtest-dev pkg-config)
gui=(qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xdotool imagemagick)
# locales: the Cyrillic code page case under Wine needs ru_RU.UTF-8 generated.
wine=(g++-mingw-w64-x86-64-posix wine wine64 locales)
# Clang and its runtime libraries, libFuzzer's among them.
fuzz=(clang-14 libclang-rt-14-dev)
zip=(zip)
# The checkers of the desktop entry, the MIME entry (xmllint), the AppStream metainfo and the
# .deb (lintian), and what cpack asks for the package's dependencies (dpkg-shlibdeps in
# dpkg-dev, file).
package=(desktop-file-utils appstream lintian dpkg-dev file libxml2-utils)
# The driver bench (scripts/driver-tests.sh): the emulator, the guest's shell and the tools
# that pack its initramfs and index the kernel's modules (depmod, in kmod).
drivers=(qemu-system-x86 busybox-static cpio kmod gzip)

want=("${base[@]}")
for group in "$@"; do
  case "$group" in
    gui) want+=("${gui[@]}") ;;
    wine) want+=("${wine[@]}") ;;
    fuzz) want+=("${fuzz[@]}") ;;
    zip) want+=("${zip[@]}") ;;
    package) want+=("${package[@]}") ;;
    drivers) want+=("${drivers[@]}") ;;
    all) want+=("${gui[@]}" "${wine[@]}" "${fuzz[@]}" "${package[@]}" "${drivers[@]}") ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "install-deps: missing packages and no way to install them: ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
