#!/usr/bin/env bash
# Checks of what Quillby ships besides the binary, as a distribution would see them.
#
# Usage: tests/e2e/packaging.sh validate|deb SOURCE_DIR BUILD_DIR QUILLBY VERSION
#   validate  the desktop file, the AppStream metainfo, the icon and the man page (against the
#             commands and options of the built binary and the generated completion)
#   deb       `cpack -G DEB` (the install rules, run by cpack) builds a package with declared
#             dependencies and every file in its usual place
set -euo pipefail

mode=$1 source_dir=$2 build_dir=$3 quillby=$4 version=$5
app_id=app.quillby.Quillby
pkg=$source_dir/packaging
work=$(mktemp -d "${TMPDIR:-/tmp}/quillby-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
# check DESCRIPTION COMMAND...: runs the command, counts a failure with its output.
check() {
    local out
    out=$("${@:2}" 2>&1) && echo "ok: $1" || fail "$1"$'\n'"$out"
}
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# silent DESCRIPTION COMMAND...: the command prints nothing at all.
silent() { check "$1" bash -c '[ -z "$("$@" 2>&1 | tee /dev/stderr)" ]' _ "${@:2}"; }
# The long options a --help text lists.
options_of() { grep -oE -- '(^|[ ,])--[a-z][a-z-]*' <<<"$1" | sed 's/^[ ,]*//' | sort -u; }
# Whether the roff text $2 names option $1 (hyphens escaped there).
in_roff() { grep -qF -- "$(sed 's/-/\\-/g' <<<"$1")" <<<"$2"; }
# The words the bash completion in $1 offers after "quillby $2".
completions() {
    bash -c 'source "$1"; COMP_WORDS=(quillby "$2"); COMP_CWORD=1; _quillby
        printf "%s\n" "${COMPREPLY[@]}"' _ "$1" "$2"
}

# An installed tree under $1/usr: exactly the expected files, a working binary, metadata that
# validates in place and points at the files next to it.
check_tree() {
    local root=$1 expected desktop=$1/usr/share/applications/$app_id.desktop
    expected=$(printf '%s\n' bin/quillby share/applications/$app_id.desktop \
        share/bash-completion/completions/quillby share/icons/hicolor/scalable/apps/$app_id.svg \
        share/man/man1/quillby.1.gz share/metainfo/$app_id.metainfo.xml)
    check "the package holds exactly the expected files" \
        diff <(echo "$expected") <(cd "$root/usr" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
    # The first line is Quillby's; the second names the client, or says that there is none.
    local printed=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/quillby" --version 2>&1)
    [ "${printed%%$'\n'*}" = "Quillby $version" ] && [[ "$printed" == *$'\n'cloudflared:\ * ]] \
        || fail "quillby --version printed '$printed'"
    grep -qx "Icon=$app_id" "$desktop" || fail "Icon= is not $app_id"
    [ -x "$root/usr/bin/$(sed -n 's/^Exec=//p' "$desktop" | head -1 | cut -d' ' -f1)" ] \
        || fail "Exec= does not name the installed binary"
    check "appstreamcli validate-tree accepts the installed tree" \
        appstreamcli validate-tree --no-net --strict "$root/usr"
    zcat "$root/usr/share/man/man1/quillby.1.gz" | grep -q '^\.TH QUILLBY 1' || fail "the man page is not gzipped in place"
    [ "$(completions "$root/usr/share/bash-completion/completions/quillby" s | xargs)" = \
        "start stop share set" ] || fail "the installed bash completion does not offer the commands"
}

validate() {
    # desktop-file-validate fails only on errors; hints and warnings are kept out too.
    silent "desktop-file-validate: no errors, warnings or hints" desktop-file-validate "$pkg/$app_id.desktop"
    # The newest release is this version. (The metainfo itself, installed as it is, and its id
    # and launchable against the file names: validate-tree --strict, in deb.)
    local meta=$pkg/$app_id.metainfo.xml svg=$pkg/$app_id.svg option command commands synopsis options
    [ "$(grep -oP '<release [^>]*version="\K[^"]+' "$meta" | head -1)" = "$version" ] || fail "the newest metainfo release is not $version"
    grep -qE 'viewBox="0 0 ([0-9.]+) \1"' "$svg" || fail "the icon is not a square SVG with a viewBox"
    # Distributions reject icons that pull in other files or scripts.
    ! grep -qE '<image|<script|xlink:href="http|href="file:' "$svg" || fail "the icon refers outside itself"

    # The man page: no groff warnings, the version of the build, every option --help lists.
    silent "groff -man -ww: the man page formats without warnings" groff -man -ww -z -Tutf8 "$pkg/quillby.1"
    grep -q "^\.TH QUILLBY 1 .*\"Quillby $version\"" "$pkg/quillby.1" || fail "the man page is not for Quillby $version"
    options=$(options_of "$(QT_QPA_PLATFORM=offscreen "$quillby" --help)")
    [ -n "$options" ] || fail "quillby --help lists no options"
    for option in $options; do in_roff "$option" "$(<"$pkg/quillby.1")" || fail "the man page lacks $option"; done
    # Every command of the command table, as the completion generated from it offers them,
    # has its synopsis in the man page, naming every option of the command's --help.
    commands=$(completions "$build_dir/packaging/quillby.bash-completion" "" | grep -v '^-') || true
    [ -n "$commands" ] || fail "the generated bash completion offers no commands"
    for command in $commands; do
        synopsis=$(awk -v c="$command" '$0 ~ "^[.]B quillby " c "( |$)" { on = 1 }
            on && /^[.](br|SH)/ { exit } on' "$pkg/quillby.1")
        [ -n "$synopsis" ] || { fail "the man page has no synopsis of $command"; continue; }
        for option in $(options_of "$(QT_QPA_PLATFORM=offscreen "$quillby" "$command" --help)"); do
            [ "$option" = --help ] || in_roff "$option" "$synopsis" || fail "the synopsis of $command lacks $option"
        done
    done
}

deb() {
    check "cpack -G DEB" cpack -G DEB -B "$work/packages" --config "$build_dir/CPackConfig.cmake"
    local arch file depends package library multiarch
    arch=$(dpkg --print-architecture)
    file=$work/packages/quillby_${version}_$arch.deb
    [ -f "$file" ] || { fail "no $(basename "$file"): $(ls "$work/packages")"; return; }
    [ "$(dpkg-deb -f "$file" Package Version Architecture | cut -d' ' -f2 | xargs)" = "quillby $version $arch" ] || fail "Package, Version or Architecture is wrong"

    # Depends: the package of every library the binary links, the X11 platform plugin it loads
    # at run time, and every one of them installable on this system.
    depends=$(dpkg-deb -f "$file" Depends)
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    for library in $(objdump -p "$quillby" | awk '$1 == "NEEDED" { print $2 }'); do
        package=$(dpkg -S "*/$multiarch/$library" 2>/dev/null | head -1 | cut -d: -f1)
        [ -n "$package" ] || fail "no package holds $library"
        sed -E 's/\([^)]*\)//g; s/[,|]/\n/g' <<<"$depends" | tr -d ' ' | grep -qxF "${package:-?}" \
            || fail "Depends lacks ${package:-$library}: $depends"
    done
    [[ "$depends" == *qt6-qpa-plugins* && "$depends" == *'libqt6widgets6 (>= 6'* ]] \
        || fail "Depends lacks qt6-qpa-plugins or a versioned libqt6widgets6"
    # Each clause holds for one of its alternatives, in the version installed here.
    check "every Depends clause is satisfied on this system" dpkg-checkbuilddeps -d "$depends" /dev/null

    # The binary is stripped. (Every file is root's: CPack's DEB generator writes them so.)
    dpkg-deb -x "$file" "$work/root"
    file -b "$work/root/usr/bin/quillby" | grep -q ', stripped' || fail "the packaged binary is not stripped"
    check_tree "$work/root"
    # Kept in the build tree for whoever wants to install it.
    cp "$file" "$build_dir/"
    echo "package: $build_dir/$(basename "$file")"
}

[[ $mode == validate || $mode == deb ]] || { echo "unknown mode $mode" >&2; exit 2; }
"$mode"
[ $failures = 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "every check passed"
