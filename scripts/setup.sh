#!/usr/bin/env bash
# Installs everything the build, the tests and the local run need on Debian 12.
# Idempotent: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake make pkg-config clang-format ccache
  # fuzzing (libFuzzer with ASan/UBSan)
  clang-14 libclang-rt-14-dev
  qtbase5-dev qtbase5-dev-tools libqt5websockets5-dev libqt5svg5-dev
  libprotobuf-dev libprotoc-dev protobuf-compiler
  libcpp-httplib-dev libssl-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  # the capture talks to the sound server itself
  libpulse-dev
  libbackward-cpp-dev libdw-dev
  # the global shortcut (X11 key grab through Qt's own connection)
  libqt5x11extras5-dev libxcb1-dev
  # media runtime
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-pulseaudio gstreamer1.0-tools gstreamer1.0-plugins-base-apps
  # test peers
  nginx libnginx-mod-rtmp pulseaudio pulseaudio-utils ffmpeg sox openssl curl
  # headless GUI and screenshots
  xvfb xauth imagemagick xcompmgr fonts-wqy-microhei xdotool
  # desktop peers of the tray and notification tests: a tray host, a notification daemon
  trayer dunst dbus-daemon
  # the Debian package: dependencies from the linked libraries, and its check
  dpkg-dev file binutils lintian desktop-file-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # Keep the system nginx from starting on port 80 during installation.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
fi
