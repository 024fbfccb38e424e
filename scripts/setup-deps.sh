#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: when all packages are present it does nothing (no apt-get at all).
set -euo pipefail

PACKAGES=(
  # build tools
  build-essential cmake ninja-build ccache pkg-config git python3
  # Qt 6 (base, svg)
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  # Qt's own texts (dialogs, context menus, command-line help) in the interface language
  qt6-translations-l10n
  # audio decoding, encoding and resampling
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libsoxr-dev libvorbis-dev
  # DSP
  libfftw3-dev librubberband-dev
  # audio devices
  portaudio19-dev libasound2-dev libjack-jackd2-dev
  # data formats and Unicode
  nlohmann-json3-dev libicu-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev libebur128-dev
  ffmpeg sox xvfb xauth
  # Ogg files cut as the standard tool cuts them
  oggz-tools
  # the real-audio tests: a private sound server with a null sink, reached through ALSA's pulse plugin
  pulseaudio libasound2-plugins
  # scripts/play-latency.py records the sink's monitor
  pulseaudio-utils
  # the program under a virtual display (X input, layouts, auto-repeat, window managers: Openbox, and
  # xfwm4, which hands the focus back differently after a dialog over a sheet),
  # desktop integration checks
  xdotool x11-xkb-utils x11-xserver-utils x11-utils openbox xfwm4 desktop-file-utils shared-mime-info
  # what the program shows, read through the accessibility bus (end-to-end tests)
  dbus-daemon at-spi2-core python3-dbus
  # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-dev
  # the stacks of a program that an end-to-end test finds stuck
  gdb
  # fonts with Cyrillic
  fonts-dejavu-core fonts-noto-core fonts-inter
  # the program natively on a Wayland session (else it runs through XWayland); the time-and-pitch
  # peer of the benchmarks
  qt6-wayland rubberband-cli
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "setup-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
