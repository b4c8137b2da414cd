#!/usr/bin/env bash
# Checks of what `cmake --install` puts on a system, run by CTest:
#   check-install.sh CHECK BUILD_DIR SOURCE_DIR LISTS CLI [PROGRAM]
# LISTS is a comma-separated list of files naming the installed files
# relative to the prefix; CLI and PROGRAM are the built quillbend-cli and
# quillbend (none without the desktop program). CHECK is one of
#   files            install into a temporary prefix: exactly the listed
#                    files, icons of the sizes their folders name, and a
#                    desktop entry and metainfo that name what is installed
#   desktop-entry    desktop-file-validate
#   metainfo         appstreamcli validate --no-net, and its screenshots exist
#   man-pages        man --warnings is silent, and every command and option
#                    of the programs' --help is described
#   program-options  PROGRAM --help and --version answer without a display
# Exit status 77 (skipped): a tool the check needs is not installed
# (scripts/install-deps.sh installs them all).
set -euo pipefail
check=$1 build=$2 src=$3 lists=$4 cli=$5 program=${6:-}
app_id=net.velmorant.Quillbend
status=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAIL: $*"; status=1; }
need() {
  for tool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
}
expected_files() {
  IFS=, read -ra files <<<"$lists"
  cat "${files[@]}" | grep -v -e '^#' -e '^$' | LC_ALL=C sort
}
has_gui() { [[ $lists == *files-gui.txt* ]]; }
# Width and height of a PNG from its header, "W H".
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }
# A man page as text, wide enough that no line is broken.
man_text() { MANWIDTH=200 man -P cat -l "$1" 2>/dev/null; }

case $check in
files)
  need cmake
  prefix=$tmp/prefix
  cmake --install "$build" --prefix "$prefix" >"$tmp/log" || { cat "$tmp/log"; fail "cmake --install failed"; }
  (cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort) >"$tmp/actual"
  expected_files >"$tmp/expected"
  diff -u "$tmp/expected" "$tmp/actual" || fail "the installed files are not the listed ones"
  for f in "$prefix"/bin/*; do [ -x "$f" ] || fail "$f is not executable"; done
  for png in "$prefix"/share/icons/hicolor/*/apps/*.png; do
    [ -e "$png" ] || continue
    folder=$(basename "$(dirname "$(dirname "$png")")")
    size=$(png_size "$png")
    [ "${size% *}x${size#* }" = "$folder" ] || fail "$png is ${size% *}x${size#* }, not $folder"
  done
  if has_gui; then
    entry=$prefix/share/applications/$app_id.desktop
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -e "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the desktop entry's icon '$icon' is not installed"
    exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    [ -x "$prefix/bin/$exec_program" ] || fail "the desktop entry starts '$exec_program', which is not installed"
    metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
    grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
      fail "the metainfo does not launch $app_id.desktop"
  fi
  ;;
desktop-entry)
  need desktop-file-validate
  entry=$src/res/$app_id.desktop
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate failed"
  [ -z "$out" ] || { echo "$out"; fail "desktop-file-validate reported problems"; }
  for type in application/rss+xml application/atom+xml x-scheme-handler/feed text/x-ms-regedit; do
    grep -q "^MimeType=.*$type;" "$entry" || fail "the desktop entry does not open $type"
  done
  ;;
metainfo)
  need appstreamcli
  metainfo=$src/res/$app_id.metainfo.xml
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate failed"
  # Every screenshot is one we ship, with the size the metainfo states.
  count=0
  while read -r width height url; do
    count=$((count + 1))
    shot=$src/res/screenshots/$(basename "$url")
    if [ ! -e "$shot" ]; then fail "screenshot $url is not in res/screenshots"; continue; fi
    size=$(png_size "$shot")
    [ "$size" = "$width $height" ] || fail "$shot is ${size/ /x}, the metainfo says ${width}x$height"
  done < <(sed -n 's/.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">\([^<]*\)<.*/\1 \2 \3/p' "$metainfo")
  [ "$count" -gt 0 ] || fail "the metainfo has no screenshots"
  ;;
man-pages)
  need man gzip
  pages=("$build"/man/*.1.gz)
  [ -e "${pages[0]}" ] || fail "no man pages in $build/man"
  for page in "${pages[@]}"; do
    warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || fail "man cannot show $page"
    [ -z "$warnings" ] || { echo "$warnings"; fail "man --warnings complains about $page"; }
  done
  # Every command and option the CLI's help names has its own entry.
  cli_page=$(man_text "$build/man/quillbend-cli.1.gz")
  cli_help=$("$cli" --help)
  for command in $(awk '/^Commands:/ { on = 1; next } /^$/ { on = 0 } on { print $1 }' <<<"$cli_help"); do
    grep -Eq "^ +$command( |$)" <<<"$cli_page" || fail "quillbend-cli.1 does not describe the command '$command'"
  done
  for option in $(grep -oE -- '--[a-z-]+' <<<"$(sed -n '/^Options:/,$p' <<<"$cli_help")"); do
    grep -q -- "$option" <<<"$cli_page" || fail "quillbend-cli.1 does not describe $option"
  done
  if [ -n "$program" ]; then
    page=$(man_text "$build/man/quillbend.1.gz")
    help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help)
    for option in $(grep -oE -- '(^| )--?[a-z?-]+' <<<"$help" | tr -d ' '); do
      grep -q -- "$option" <<<"$page" || fail "quillbend.1 does not describe $option"
    done
  fi
  ;;
program-options)
  version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$program" --version 2>"$tmp/err") ||
    { cat "$tmp/err"; fail "--version failed without a display"; }
  [[ $version =~ ^Quillbend\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed '$version'"
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$program" --help 2>"$tmp/err") ||
    { cat "$tmp/err"; fail "--help failed without a display"; }
  for option in --help --version "address|file"; do
    grep -q -- "$option" <<<"$help" || fail "--help does not mention $option"
  done
  ;;
*)
  echo "unknown check '$check'"
  exit 2
  ;;
esac
exit $status
