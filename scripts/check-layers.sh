#!/usr/bin/env bash
# Fails when an include points up a layer. The layers, bottom first:
#   model, feeds, then opml and views (side by side), then app; the
#   command-line tool stands on the core and opml only.
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

declare -A allowed=(
  [model]="model"
  [feeds]="model feeds"
  [opml]="model feeds opml"
  [views]="model feeds views"
  [app]="model feeds opml views app"
  [tools]="model feeds opml tools"
)

status=0
for layer in "${!allowed[@]}"; do
  [ -d "$layer" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$hit")
    case " ${allowed[$layer]} " in
      *" $target "*) ;;
      *) echo "$hit: $layer/ may not include $target/"; status=1 ;;
    esac
  done < <(grep -rnE '^\s*#\s*include "[^/"]+/' "$layer" --include='*.h' --include='*.cpp')
done
exit $status
