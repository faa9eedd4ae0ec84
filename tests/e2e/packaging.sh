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
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# The files every install must hold, relative to the prefix /usr.
expected_files() {
    cat <<EOF
bin/quillby
share/applications/$app_id.desktop
share/bash-completion/completions/quillby
share/icons/hicolor/scalable/apps/$app_id.svg
share/man/man1/quillby.1.gz
share/metainfo/$app_id.metainfo.xml
EOF
}

desktop_key() { sed -n "s/^$2=//p" "$1" | head -1; }

# An installed tree under $1/usr: exactly the expected files, a working binary, metadata that
# validates in place and points at the files next to it.
check_tree() {
    local root=$1 what=$2
    local listed
    listed=$(cd "$root/usr" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
    if [ "$listed" = "$(expected_files)" ]; then
        pass "$what holds exactly the expected files"
    else
        fail "$what files differ from the expected list:"
        diff <(expected_files) <(echo "$listed") >&2 || true
    fi

    local bin=$root/usr/bin/quillby
    [ -x "$bin" ] || fail "$what: usr/bin/quillby is not executable"
    local printed
    printed=$(QT_QPA_PLATFORM=offscreen "$bin" --version 2>&1) || fail "$what: quillby --version failed"
    # The first line is Quillby's; the second names the client, or says that there is none.
    [ "${printed%%$'\n'*}" = "Quillby $version" ] && [[ "$printed" == *$'\n'cloudflared:\ * ]] \
        && pass "$what: quillby --version prints Quillby $version and the client" \
        || fail "$what: quillby --version printed '$printed'"

    local desktop=$root/usr/share/applications/$app_id.desktop
    [ "$(desktop_key "$desktop" Icon)" = "$app_id" ] || fail "$what: Icon= is not $app_id"
    [ -x "$root/usr/bin/$(desktop_key "$desktop" Exec | cut -d' ' -f1)" ] \
        && pass "$what: Exec= names the installed binary" || fail "$what: Exec= does not name usr/bin"
    local out
    out=$(appstreamcli validate-tree --no-net --strict "$root/usr" 2>&1) \
        && pass "$what: appstreamcli validate-tree accepts the installed tree" \
        || fail "$what: appstreamcli validate-tree:"$'\n'"$out"
    zcat "$root/usr/share/man/man1/quillby.1.gz" | grep -q '^\.TH QUILLBY 1' \
        && pass "$what: the man page is a compressed quillby(1)" \
        || fail "$what: usr/share/man/man1/quillby.1.gz is not the man page"
    # The completion loads in bash and offers the commands.
    local words
    words=$(bash -c 'source "$1"; COMP_WORDS=(quillby s); COMP_CWORD=1; _quillby
        echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/quillby")
    [ "$words" = "start stop share set" ] && pass "$what: the bash completion offers the commands" \
        || fail "$what: the bash completion offered '$words'"
}

validate() {
    local out
    # desktop-file-validate fails only on errors; hints and warnings are kept out too.
    out=$(desktop-file-validate "$pkg/$app_id.desktop" 2>&1) || true
    [ -z "$out" ] && pass "desktop-file-validate: no errors, warnings or hints" \
        || fail "desktop-file-validate:"$'\n'"$out"

    out=$(appstreamcli validate --no-net --strict "$pkg/$app_id.metainfo.xml" 2>&1) \
        && pass "appstreamcli validate --no-net --strict" || fail "appstreamcli validate:"$'\n'"$out"

    # The component, its launchable and the icon all go by the application id.
    /usr/bin/python3 - "$pkg" "$app_id" "$version" <<'EOF' || failures=$((failures + 1))
import sys
import xml.etree.ElementTree as ET

pkg, app_id, version = sys.argv[1:]
problems = []
meta = ET.parse(f"{pkg}/{app_id}.metainfo.xml").getroot()
if meta.findtext("id") != app_id:
    problems.append(f"metainfo id is {meta.findtext('id')!r}")
if meta.findtext("launchable") != f"{app_id}.desktop":
    problems.append("metainfo launchable does not name the desktop file")
releases = [r.get("version") for r in meta.iter("release")]
if not releases or releases[0] != version:
    problems.append(f"newest metainfo release is {releases[:1]}, the project is {version}")

svg = ET.parse(f"{pkg}/{app_id}.svg").getroot()
box = svg.get("viewBox", "").split()
if svg.tag != "{http://www.w3.org/2000/svg}svg" or len(box) != 4 or box[2] != box[3]:
    problems.append("the icon is not a square SVG with a viewBox")
# Distributions reject icons that pull in other files or scripts.
text = open(f"{pkg}/{app_id}.svg", encoding="utf-8").read()
for bad in ("<image", "<script", "xlink:href=\"http", "href=\"file:"):
    if bad in text:
        problems.append(f"the icon contains {bad}")

for p in problems:
    print("FAIL:", p, file=sys.stderr)
if not problems:
    print("ok: metainfo id, launchable, release version and icon agree")
sys.exit(1 if problems else 0)
EOF

    # The man page: no groff warnings, the version of the build, every option --help lists.
    out=$(groff -man -ww -z -Tutf8 "$pkg/quillby.1" 2>&1) && [ -z "$out" ] \
        && pass "groff -man -ww: the man page formats without warnings" \
        || fail "groff -man -ww:"$'\n'"$out"
    grep -q "^\.TH QUILLBY 1 .*\"Quillby $version\"" "$pkg/quillby.1" \
        && pass "the man page is for Quillby $version" || fail "the man page header is not for Quillby $version"
    local help options option
    help=$(QT_QPA_PLATFORM=offscreen "$quillby" --help) || fail "quillby --help failed"
    options=$(grep -oE -- '(^|[ ,])--[a-z][a-z-]*' <<<"$help" | sed 's/^[ ,]*//' | sort -u)
    [ -n "$options" ] || fail "quillby --help lists no options"
    local undocumented=()
    for option in $options; do
        # Long options appear with escaped hyphens in the roff source.
        grep -qF -- "$(sed 's/-/\\-/g' <<<"$option")" "$pkg/quillby.1" || undocumented+=("$option")
    done
    [ ${#undocumented[@]} = 0 ] && pass "the man page documents every option of --help: $(echo $options)" \
        || fail "the man page does not document ${undocumented[*]}"

    # Every command of the command table, as the completion generated from it offers them,
    # has its synopsis in the man page, naming every option of the command's --help.
    local commands command synopsis
    commands=$(bash -c 'source "$1"; COMP_WORDS=(quillby ""); COMP_CWORD=1; _quillby
        printf "%s\n" "${COMPREPLY[@]}"' _ "$build_dir/packaging/quillby.bash-completion" | grep -v '^-')
    [ -n "$commands" ] || fail "the generated bash completion offers no commands"
    undocumented=()
    for command in $commands; do
        synopsis=$(awk -v c="$command" '$0 ~ "^[.]B quillby " c "( |$)" { on = 1 }
            on && /^[.](br|SH)/ { exit } on' "$pkg/quillby.1")
        [ -n "$synopsis" ] || { undocumented+=("$command"); continue; }
        help=$(QT_QPA_PLATFORM=offscreen "$quillby" "$command" --help) || fail "quillby $command --help failed"
        for option in $(grep -oE -- '(^|[ ,])--[a-z][a-z-]*' <<<"$help" | sed 's/^[ ,]*//' | sort -u); do
            [ "$option" = --help ] && continue
            grep -qF -- "$(sed 's/-/\\-/g' <<<"$option")" <<<"$synopsis" || undocumented+=("$command $option")
        done
    done
    [ ${#undocumented[@]} = 0 ] && pass "the man page's synopsis has every command and its options: $(echo $commands)" \
        || fail "the man page's synopsis lacks: ${undocumented[*]}"
}

deb() {
    local out=$work/packages
    cpack -G DEB -B "$out" --config "$build_dir/CPackConfig.cmake" >"$work/cpack.log" 2>&1 \
        || { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; return; }
    local debs=("$out"/*.deb)
    [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { fail "cpack made no single .deb"; return; }
    local file=${debs[0]}
    dpkg-deb -I "$file"

    [ "$(dpkg-deb -f "$file" Package)" = quillby ] || fail "Package is not quillby"
    [ "$(dpkg-deb -f "$file" Version)" = "$version" ] || fail "Version is not $version"
    [ "$(dpkg-deb -f "$file" Architecture)" = "$(dpkg --print-architecture)" ] \
        || fail "Architecture is not $(dpkg --print-architecture)"
    [ "$(basename "$file")" = "quillby_${version}_$(dpkg --print-architecture).deb" ] \
        || fail "the file name $(basename "$file") is not Debian's"

    # Depends: the package of every library the binary links (found by dpkg-shlibdeps), the X11
    # platform plugin it loads at run time, and every one of them installable on this system.
    local depends package library needed=(qt6-qpa-plugins)
    depends=$(dpkg-deb -f "$file" Depends)
    local multiarch
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    for library in $(objdump -p "$quillby" | awk '$1 == "NEEDED" { print $2 }'); do
        package=$(dpkg -S "*/$multiarch/$library" 2>/dev/null | head -1 | cut -d: -f1)
        [ -n "$package" ] || { fail "no package holds $library"; continue; }
        needed+=("$package")
    done
    local named
    named=$(sed -E 's/\([^)]*\)//g; s/[,|]/\n/g' <<<"$depends" | tr -d ' ')
    for package in "${needed[@]}"; do
        grep -qxF "$package" <<<"$named" || fail "Depends lacks $package: $depends"
    done
    grep -q 'libqt6widgets6 (>= 6' <<<"$depends" || fail "Depends has no versioned libqt6widgets6"
    local clause alternative name relation wanted installed satisfied
    while IFS= read -r clause; do
        satisfied=0
        while IFS= read -r alternative; do
            read -r name relation wanted <<<"$(sed -E 's/[()]//g' <<<"$alternative")"
            installed=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null | head -1) || continue
            [ -n "$installed" ] || continue
            if [ -z "$relation" ] || dpkg --compare-versions "$installed" "$relation" "$wanted"; then
                satisfied=1
            fi
        done < <(sed 's/ *| */\n/g' <<<"$clause")
        [ $satisfied = 1 ] || fail "dependency '$clause' is not satisfied on this system"
    done < <(sed 's/, */\n/g' <<<"$depends")
    pass "Depends is complete and satisfied here: $depends"

    # Files are owned by root and the binary is stripped.
    dpkg-deb -c "$file" | awk '$2 != "root/root" { bad = 1 } END { exit bad }' \
        && pass "every file in the package belongs to root/root" || fail "files not owned by root/root"
    dpkg-deb -x "$file" "$work/root"
    file -b "$work/root/usr/bin/quillby" | grep -q ', stripped' \
        && pass "the packaged binary is stripped" || fail "the packaged binary is not stripped"
    check_tree "$work/root" "the .deb"
    # Kept in the build tree for whoever wants to install it.
    cp "$file" "$build_dir/"
    echo "package: $build_dir/$(basename "$file")"
}

case "$mode" in
    validate) validate ;;
    deb) deb ;;
    *) echo "unknown mode $mode" >&2; exit 2 ;;
esac

[ $failures = 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
