#!/usr/bin/env bash
# Builds the Debian package of a build folder with CPack and checks it:
#   check-package.sh BUILD_DIR VERSION LISTS
# It must hold exactly the files of LISTS (comma-separated lists of installed
# files relative to the prefix) under /usr, carry the version, and depend on
# the shared libraries the programs link (found by dpkg-shlibdeps).
#
# Making the package (xz) is the slowest of the checks, and what it checks
# beyond the installed files (which install_files checks on every run) only
# changes with the packaging: the CMake files of cmake/, this script and
# the file lists. So it runs only when those differ from the ones it last
# passed with, as recorded in package-checked.sha256 beside this script;
# otherwise it is skipped. `make package` always runs it (QB_PACKAGE_OUT:
# the folder that keeps the package) and records the packaging it passed
# with.
# Exit status 77 (skipped): a tool it needs is not installed, or the
# packaging is the one last checked.
set -euo pipefail
build=$1 version=$2 lists=$3
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
record=$here/package-checked.sha256
out=${QB_PACKAGE_OUT:-}

# One line per packaging file, "SHA256  path" relative to the source folder.
packaging() {
  (export LC_ALL=C && cd "$src" && sha256sum cmake/*.cmake tests/install/check-package.sh tests/install/files-*.txt)
}
if [ -z "$out" ] && [ -f "$record" ] && [ "$(packaging)" = "$(cat "$record")" ]; then
  echo "skipped: the packaging is the one last checked (make package checks it again)"
  exit 77
fi
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

into=${out:-$tmp}
rm -f "$into"/quillbend_*.deb
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$into" >"$tmp/log" 2>&1 || { cat "$tmp/log"; exit 1; }
debs=("$into"/quillbend_*.deb)
[ -e "${debs[0]}" ] || { cat "$tmp/log"; echo "FAIL: no package was made"; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb"

IFS=, read -ra files <<<"$lists"
cat "${files[@]}" | grep -v -e '^#' -e '^$' | sed 's|^|usr/|' | LC_ALL=C sort >"$tmp/expected"
dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $6 }' | sed 's|^\./||' | LC_ALL=C sort >"$tmp/actual"
diff -u "$tmp/expected" "$tmp/actual" || fail "the package's files are not the listed ones"

[ "$(dpkg-deb -f "$deb" Package)" = quillbend ] || fail "the package is not named quillbend"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libcurl4; do
  grep -q "$library" <<<"$depends" || fail "the package does not depend on $library"
done
if [[ $lists == *files-gui.txt* ]]; then
  for library in libqt6widgets6 libqt6webenginewidgets6 libqt6dbus6; do
    grep -q "$library" <<<"$depends" || fail "the package does not depend on $library"
  done
fi
if [ $status -eq 0 ] && [ -n "$out" ]; then
  packaging >"$record"
  echo "recorded the packaging checked in ${record#"$src"/}"
fi
exit $status
