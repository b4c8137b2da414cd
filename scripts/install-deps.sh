#!/usr/bin/env bash
# Installs the Debian 12 packages Quillbend needs to build, test and run.
# Quiet when everything is already present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev zlib1g-dev libsqlite3-dev nlohmann-json3-dev
  qt6-base-dev qt6-webengine-dev
  xvfb xauth libpugixml-dev
  clang libclang-rt-14-dev lld
  # packaging and the checks of the installed files
  dpkg-dev file gzip man-db desktop-file-utils appstream
  # the notification test runs its own session bus
  dbus-daemon
  # the check of real-world feeds compares with Python's feedparser
  python3-feedparser
  # the sync tests run a real FreshRSS on PHP's built-in server and SQLite
  php8.2-cli php8.2-sqlite3 php8.2-xml php8.2-mbstring php8.2-curl php8.2-intl php8.2-zip php8.2-gmp
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
