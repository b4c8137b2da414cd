#!/usr/bin/env bash
# Installs the Debian 12 packages Quillbend needs to build, test and run.
# Quiet when everything is already present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev zlib1g-dev libsqlite3-dev nlohmann-json3-dev
  qt6-base-dev qt6-webengine-dev
  # the window keeps account passwords in the desktop's secret store
  qtkeychain-qt6-dev
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

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
apt_install() {
  echo "Installing: $*"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

# The reader view's extraction library, from the npm registry at the version
# its package-lock pins (integrity checked by npm ci). Built into the window
# as a resource: nothing is fetched when building or running.
readability=$(cd "$(dirname "$0")/.." && pwd)/third_party/readability
pinned=$(sed -n '/"node_modules\/@mozilla\/readability": *{/,/}/p' "$readability/package-lock.json" |
  sed -n 's/^  *"version": *"\([^"]*\)".*/\1/p')
installed=""
if [ -f "$readability/node_modules/@mozilla/readability/package.json" ]; then
  installed=$(sed -n 's/^  *"version": *"\([^"]*\)".*/\1/p' "$readability/node_modules/@mozilla/readability/package.json")
fi
if [ "$installed" != "$pinned" ]; then
  # Debian's npm (with its nodejs) when the machine has no npm of its own.
  command -v npm >/dev/null || apt_install nodejs npm
  echo "Installing @mozilla/readability $pinned with npm"
  (cd "$readability" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
fi
