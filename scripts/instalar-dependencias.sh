#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again: it installs only
# what is missing, and refreshes the package lists only when something is.
set -euo pipefail

PACOTES=(
  # build
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config git
  # libraries
  libssl-dev libsystemd-dev libsecret-1-dev nlohmann-json3-dev
  libpulse-dev libx11-dev libxtst-dev libxext-dev libxkbcommon-dev libqrcodegencpp-dev
  # tests: private X server, sound server and D-Bus mocks
  googletest libgtest-dev libgmock-dev libglib2.0-bin dbus dbus-x11 gnome-keyring
  xvfb xauth x11-utils pulseaudio pulseaudio-utils python3-dbusmock zbar-tools
  # browser tests of the phone panel
  chromium
)

# The panel's build tools come from npm; Node.js itself from Debian when the machine has none.
command -v node >/dev/null 2>&1 || PACOTES+=(nodejs npm)

faltam=()
for p in "${PACOTES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || faltam+=("$p")
done

if [ ${#faltam[@]} -eq 0 ]; then
  exit 0
fi

echo "Instalando: ${faltam[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${faltam[@]}"
