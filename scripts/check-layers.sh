#!/usr/bin/env bash
# Fails when an include points up a layer. The layers, bottom first:
#   base       runtime helpers: clock, date-time, executor, texts, search
#              folding, web addresses, the user's folders
#   model      the records with their field tables, the manager and its
#              operations, the change records
#   classic    the classic data file: archive, records' order, import
#   library    the SQLite store and the link that keeps it in step
#   formats    documents: XML, markup, dates, encodings, JSON Feed, and
#              their interpretation into candidate articles (values)
#   net        the download pool, feed discovery, site icons, article pages
#   update     the update engine with each source's state and validators
#   then sync, opml and views side by side, then app; the command-line tool
#   stands on the core and opml only.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

core="base model classic library formats net update"
declare -A allowed=(
  [base]="base"
  [model]="base model"
  [classic]="base model classic"
  [library]="base model classic library"
  [formats]="base model formats"
  [net]="base formats net"
  [update]="$core"
  [sync]="$core sync"
  [opml]="$core opml"
  [views]="$core views"
  [app]="$core sync opml views app"
  [tools]="$core sync opml tools"
)

# One grep per layer and one awk over its hits: a process per include would
# take seconds.
status=0
for layer in "${!allowed[@]}"; do
  [ -d "$layer" ] || continue
  grep -rnE '^\s*#\s*include "[^/"]+/' "$layer" --include='*.h' --include='*.cpp' |
    awk -v layer="$layer" -v allowed=" ${allowed[$layer]} " '
      {
        target = $0
        sub(/^[^#]*#[ \t]*include "/, "", target)
        sub(/\/.*/, "", target)
        if (index(allowed, " " target " ") == 0) {
          print $0 ": " layer "/ may not include " target "/"
          bad = 1
        }
      }
      END { exit bad }' || status=1
done
# Records are written by the model's operations; the stores that build a
# model from what they read (the classic file, the library, the
# command-line tool's JSON form of a model) write them directly through
# the model's writer, and no other code may.
grep -rnE '#\s*include "model/ModelWriter\.h"|const_cast<\s*(qb::)?C(Feed|FeedSource|Group)\s*\*' \
    base formats net update sync opml views app tools --include='*.h' --include='*.cpp' 2>/dev/null |
  grep -v '^tools/ModelJson\.cpp:' |
  sed 's/$/: writes records past the model'"'"'s operations/' && status=1

exit $status
