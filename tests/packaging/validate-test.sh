#!/usr/bin/env bash
# The files the installation lays out for the desktop, checked by the desktop's own validators,
# and named and versioned as the program is:
#
#   validate-test.sh desktop|metainfo|manpage|icon SOURCE_DIR VERSION
set -euo pipefail
kind=$1
source_dir=$2
version=$3
packaging="$source_dir/packaging"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/installed-quenda.sh"

# The id the program uses for its desktop file name, bus name and metainfo.
app_id=$(sed -n 's/.*kApplicationId = "\([^"]*\)".*/\1/p' "$source_dir/src/ui/ApplicationId.h")
[ -n "$app_id" ] || fail "no kApplicationId in src/ui/ApplicationId.h"

# Runs a validator that must succeed and print nothing but its verdict.
quiet() {
    local output
    output=$("$@" 2>&1) || fail "$* failed:
$output"
    echo "$output"
}

case "$kind" in
    desktop)
        command -v desktop-file-validate >/dev/null ||
            skip "desktop-file-validate is not installed (desktop-file-utils)"
        file="$packaging/$app_id.desktop"
        output=$(quiet desktop-file-validate "$file")
        [ -z "$output" ] || fail "desktop-file-validate reports:
$output"
        grep -qx "Icon=$app_id" "$file" || fail "the desktop file's Icon is not $app_id"
        ;;
    metainfo)
        command -v appstreamcli >/dev/null || skip "appstreamcli is not installed (appstream)"
        file="$packaging/$app_id.metainfo.xml"
        output=$(quiet appstreamcli validate --no-net "$file")
        # Infos (a tag newer than this validator) pass; warnings and errors do not.
        ! grep -E '^(W|E):' <<<"$output" || fail "appstreamcli reports:
$output"
        grep -q "<id>$app_id</id>" "$file" || fail "the metainfo id is not $app_id"
        grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$file" ||
            fail "the metainfo does not launch $app_id.desktop"
        newest=$(grep -m1 -o '<release version="[^"]*"' "$file" | cut -d'"' -f2)
        [ "$newest" = "$version" ] || fail "the newest release is $newest, the program is $version"
        for lang in pt_BR es; do
            for tag in summary p caption; do
                grep -q "<$tag xml:lang=\"$lang\">" "$file" || fail "no $lang $tag in the metainfo"
            done
        done
        ;;
    manpage)
        command -v groff >/dev/null || skip "groff is not installed (groff-base)"
        output=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$packaging/quenda.1" 2>&1)
        [ -z "$output" ] || fail "groff warns about quenda.1:
$output"
        grep -q "^\.TH QUENDA 1 .* \"Quenda $version\"" "$packaging/quenda.1" ||
            fail "the man page does not name version $version"
        # Every command of the command line's usage line is described.
        usage=$(grep -o '\-\-cli [a-z]*' "$source_dir/src/cli/CommandLine.cpp" | sort -u)
        while read -r command; do
            grep -q "^\.B.*${command//-/\\\\-}" "$packaging/quenda.1" ||
                fail "the man page does not describe '$command'"
        done <<<"$usage"
        ;;
    icon)
        png="$packaging/icons/$app_id.png"
        # The PNG header: the signature, then IHDR's width and height (big-endian).
        header=($(od -An -tu1 -N24 "$png"))
        [ "${header[1]}${header[2]}${header[3]}" = "807871" ] || fail "$png is not a PNG"
        width=$(( (header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19] ))
        height=$(( (header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23] ))
        [ "$width" = 256 ] && [ "$height" = 256 ] || fail "$png is $width x $height, not 256 x 256"
        grep -q '<svg[^>]*viewBox="0 0 128 128"' "$packaging/icons/$app_id.svg" ||
            fail "the SVG icon is not square"
        ;;
    *) fail "unknown check '$kind'" ;;
esac
echo "ok: $kind"
