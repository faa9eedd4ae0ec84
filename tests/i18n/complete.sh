#!/usr/bin/env bash
# Every text of src/ has a finished translation in each translations/quillby_*.ts: lupdate run on
# copies finds nothing new and nothing unfinished. After adding texts:
#   cmake --build --preset default --target update_translations   (then translate the new ones)
set -euo pipefail
source_dir=$1 lupdate=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$source_dir"/translations/quillby_*.ts "$work"
"$lupdate" -silent -no-obsolete -locations none "$source_dir/src" -ts "$work"/*.ts
for ts in $(grep -l 'type="unfinished"' "$work"/*.ts); do
    echo "$(basename "$ts"): texts without a translation:" >&2
    grep -B3 'type="unfinished"' "$ts" | sed -n 's|.*<source>\(.*\)</source>.*|    \1|p' >&2
done
! grep -q 'type="unfinished"' "$work"/*.ts
