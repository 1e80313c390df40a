#!/usr/bin/env bash
# The .deb that CPack makes from the build tree: its Depends name the package of every shared
# library the packaged programs link, and the programs quenda runs; it installs
# with dpkg into an empty scratch root (its dependencies are this machine's), and the installed
# quenda runs its command line and finds its bundled server.
#
#   deb-test.sh BUILD_DIR FAKE_WHISPER_SERVER
set -euo pipefail
build=$1
fake=$2
source "$(dirname "$0")/installed-quenda.sh"
for tool in dpkg dpkg-deb dpkg-shlibdeps file readelf sox; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps)"
done

make_server_dir "$scratch/server" "$fake"
QUENDA_BUNDLED_SERVER_DIR="$scratch/server" \
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }
debs=("$scratch"/out/quenda_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single quenda_*.deb"
deb=${debs[0]}

# Depends: every shared library the packaged programs link comes from a package it names (the
# library-to-package map read from the symbols and shlibs files of this machine's libraries, as
# dpkg-shlibdeps reads it), and so do the programs quenda runs.
depends=$(dpkg-deb -f "$deb" Depends)
names=" $(sed 's/([^)]*)//g; s/[,|]/ /g' <<<"$depends" | xargs) "
dpkg-deb -x "$deb" "$scratch/contents"
info=/var/lib/dpkg/info
arch=$(dpkg --print-architecture)
awk '/^[^ \t#*|]/ && $1 !~ /:$/ {
         if (FILENAME ~ /symbols$/) print $1, $2; else print $1 ".so." $2, $3 }' \
    "$info"/*:"$arch".symbols "$info"/*:"$arch".shlibs 2>/dev/null | sort -u >"$scratch/libraries"
needed=$(readelf -d "$scratch/contents/usr/bin/quenda" \
             "$scratch/contents/usr/lib/quenda/modules/libquenda-desktop.so" \
             "$scratch/contents/usr/share/quenda/bin/whisper-server" |
         sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
[ -n "$needed" ] || fail "readelf found no libraries in the packaged programs"
for library in $needed; do
    providers=$(awk -v so="$library" '$1 == so { print $2 }' "$scratch/libraries")
    [ -n "$providers" ] || fail "no installed package provides $library"
    found=""
    for package in $providers; do
        [[ "$names" == *" $package "* ]] && found=1
    done
    [ -n "$found" ] || fail "Depends names none of $providers (for $library): $depends"
done
for package in ffmpeg qt6-qpa-plugins; do
    [[ "$names" == *" $package "* ]] || fail "Depends lacks $package: $depends"
done
# (grep reads the whole text: with pipefail, grep -q ending early could fail dpkg-deb on SIGPIPE.)
dpkg-deb -f "$deb" Description | grep "Ollama" >/dev/null || fail "the description does not name Ollama"
for file in usr/bin/quenda usr/lib/quenda/modules/libquenda-desktop.so \
            usr/share/applications/app.quenda.Quenda.desktop \
            usr/share/metainfo/app.quenda.Quenda.metainfo.xml usr/share/man/man1/quenda.1.gz; do
    [ -f "$scratch/contents/$file" ] || fail "the package lacks /$file"
done

# Installed by dpkg into an empty root: only the package's own files are there, its
# dependencies are this machine's libraries.
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
force=(--force-depends --force-bad-path --force-unsafe-io)
[ "$(id -u)" -eq 0 ] || force+=(--force-not-root)
dpkg --root="$root" "${force[@]}" -i "$deb" >"$scratch/dpkg.log" 2>&1 ||
    { cat "$scratch/dpkg.log"; fail "dpkg could not install the package"; }
dpkg --root="$root" -s quenda | grep -x "Status: install ok installed" >/dev/null ||
    fail "dpkg does not count the package as installed"
check_installed_quenda "$root/usr/bin/quenda"
echo "ok: $(basename "$deb"), Depends: $depends"
