#!/usr/bin/env bash
# Every text of src/ has a finished translation in each translations/quillby_*.ts: lupdate run on
# a copy finds nothing new and nothing unfinished. After adding texts:
#   cmake --build --preset default --target update_translations   (then translate the new ones)
set -euo pipefail
source_dir=$1 lupdate=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for ts in "$source_dir"/translations/quillby_*.ts; do
    copy=$work/$(basename "$ts") && cp "$ts" "$copy"
    "$lupdate" -silent -no-obsolete -locations none "$source_dir/src" -ts "$copy"
    if grep -q 'type="unfinished"' "$copy"; then
        echo "$(basename "$ts"): texts without a translation:" >&2
        grep -B3 'type="unfinished"' "$copy" | sed -n 's|.*<source>\(.*\)</source>.*|    \1|p' >&2
        status=1
    fi
done
exit $status
