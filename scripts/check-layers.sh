#!/usr/bin/env bash
# Fails when an include points up a layer. The layers, bottom first:
#   model, feeds, then sync, opml and views (side by side), then app; the
#   command-line tool stands on the core and opml only.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

declare -A allowed=(
  [model]="model"
  [feeds]="model feeds"
  [sync]="model feeds sync"
  [opml]="model feeds opml"
  [views]="model feeds views"
  [app]="model feeds sync opml views app"
  [tools]="model feeds sync opml tools"
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
exit $status
