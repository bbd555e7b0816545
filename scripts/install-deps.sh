#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Pealix need.
# Idempotent: when everything is present it does nothing (no apt-get update either).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config make
  lld # a faster linker than GNU ld (cmake/Linker.cmake)
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qcoro-qt6-dev
  libgtest-dev libgmock-dev
  libavcodec-dev libavformat-dev libavutil-dev libswresample-dev
  libx11-dev libxi-dev
  libxtst-dev # the tray panel benchmark clicks through XTest
  # package (dpkg-shlibdeps computes its dependencies) and its checks; gio launches
  # the autostart entry as a GNOME session would
  dpkg-dev appstream desktop-file-utils libglib2.0-bin
  # sanitizer build (g++'s ASan and UBSan runtimes) and fuzz targets (clang's libFuzzer)
  libasan8 libubsan1 clang libclang-rt-14-dev
  # run
  qt6-qpa-plugins libqt6multimedia6 libqt6network6 libqt6dbus6 libqt6svg6
  fonts-material-design-icons-iconfont
  # test peers and sandboxes
  curl ffmpeg openssl iproute2 util-linux procps
  dbus avahi-daemon avahi-utils
  pulseaudio pulseaudio-utils espeak-ng sox
  xvfb xdotool x11-utils
  trayer # a system tray host for the tray tests
  strace # counts the idle process's wakeups in the tray benchmark
  x11-xserver-utils xdg-desktop-portal-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node.js (with npm) runs the independent protocol peers in the tests; the machine
# may already carry a newer build than Debian's, so only add Debian's when absent.
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm  >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
