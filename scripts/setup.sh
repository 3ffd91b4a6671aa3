#!/usr/bin/env bash
# Installs the Debian packages Zel needs to build, test and benchmark.
# Idempotent: when everything is present it prints nothing and changes nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libfaac-dev libopencore-amrnb-dev libturbojpeg0-dev
  qt6-base-dev qt6-multimedia-dev qt6-translations-l10n fonts-ipafont-gothic
  librsvg2-bin desktop-file-utils
  libgtest-dev libbenchmark-dev
  ffmpeg time
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "setup.sh: missing packages (${missing[*]}) and not root; install them and retry" >&2
    exit 1
  fi
else
  SUDO=
fi

# FAAC lives in Debian's non-free component.
enable_non_free() {
  local changed=0 f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    if grep -qE '^Components: main$' "$f"; then
      $SUDO sed -i 's/^Components: main$/Components: main non-free/' "$f"
      changed=1
    fi
  done
  if [ -f /etc/apt/sources.list ]; then
    # one-line form: "deb URI SUITE main" without non-free
    if grep -qE '^deb .* main( |$)' /etc/apt/sources.list &&
       ! grep -qE '^deb .* main.*non-free( |$)' /etc/apt/sources.list; then
      $SUDO sed -i -E '/^deb / { / non-free( |$)/! s/ main( |$)/ main non-free\1/ }' /etc/apt/sources.list
      changed=1
    fi
  fi
  return 0
}

echo "setup.sh: installing ${missing[*]}" >&2
enable_non_free
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
