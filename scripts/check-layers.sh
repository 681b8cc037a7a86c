#!/usr/bin/env bash
# Checks that every engine folder includes headers only from the layers it may use, so that a
# reach upwards (fat/ including ntfs/, disks/ including search/, anything including ui/) fails
# the build instead of waiting for a reader to notice.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
    [core]="core"
    [items]="core items"
    [fat]="core items fat"
    [ntfs]="core items ntfs"
    [disks]="core items fat ntfs disks"
    [search]="core items fat ntfs disks search"
    [log]="core items fat ntfs disks search log"
    [session]="core items fat ntfs disks search log session"
)

status=0
for layer in "${!allowed[@]}"; do
    [ -d "$layer" ] || continue
    while IFS=: read -r file line include; do
        target=${include#*\"}
        target=${target%%/*}
        case " ${allowed[$layer]} " in
            *" $target "*) ;;
            *)
                echo "$file:$line: $layer/ may not include $target/ ($include)" >&2
                status=1
                ;;
        esac
    done < <(grep -n -H -E '^#include "[a-z_]+/' "$layer"/*.h "$layer"/*.cpp 2>/dev/null || true)
done
# No Qt below the front ends.
if grep -n -E '^#include <Q' core/* items/* fat/* ntfs/* disks/* search/* log/* session/* 2>/dev/null; then
    echo "the engine includes a Qt header" >&2
    status=1
fi
exit $status
