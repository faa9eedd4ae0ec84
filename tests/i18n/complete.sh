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
# Fails on, and names, each text without a translation (its <source> is in the lines before).
! grep -H -B3 'type="unfinished"' "$work"/*.ts |
    sed -n 's|^.*/\(quillby_[^/]*\.ts\)-.*<source>\(.*\)</source>.*|\1: no translation: \2|p' >&2
