#!/usr/bin/env bash
# The .deb that CPack makes from the build tree: its Depends hold every shared library's package
# that dpkg-shlibdeps finds for the packaged programs, plus the programs quenda runs; it installs
# with dpkg into an empty scratch root (its dependencies are this machine's), and the installed
# quenda runs its command line and finds its bundled server.
#
#   deb-test.sh BUILD_DIR FAKE_WHISPER_SERVER
set -euo pipefail
build=$1
fake=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/installed-quenda.sh"
for tool in dpkg dpkg-deb dpkg-shlibdeps file sox; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps)"
done

make_server_dir "$scratch/server" "$fake"
QUENDA_BUNDLED_SERVER_DIR="$scratch/server" \
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }
debs=("$scratch"/out/quenda_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single quenda_*.deb"
deb=${debs[0]}

# Depends: the computed shared-library dependencies, and by hand what quenda runs.
depends=$(dpkg-deb -f "$deb" Depends)
dpkg-deb -x "$deb" "$scratch/contents"
mkdir -p "$scratch/shlibs/debian"
printf 'Source: quenda\n\nPackage: quenda\nArchitecture: any\n' >"$scratch/shlibs/debian/control"
computed=$(cd "$scratch/shlibs" && dpkg-shlibdeps -O "$scratch/contents/usr/bin/quenda" \
               "$scratch/contents/usr/share/quenda/bin/whisper-server" 2>/dev/null |
           sed -n 's/^shlibs:Depends=//p')
[ -n "$computed" ] || fail "dpkg-shlibdeps found no dependencies"
IFS=',' read -r -a wanted <<<"$computed, ffmpeg, qt6-qpa-plugins"
IFS=',' read -r -a listed <<<"$depends"
for item in "${wanted[@]}"; do
    item=$(echo "$item" | xargs)
    found=""
    for entry in "${listed[@]}"; do
        [ "$(echo "$entry" | xargs)" = "$item" ] && found=1
    done
    [ -n "$found" ] || fail "Depends lacks '$item'; it is: $depends"
done
dpkg-deb -f "$deb" Description | grep -q "Ollama" || fail "the description does not name Ollama"
for file in usr/bin/quenda usr/share/applications/app.quenda.Quenda.desktop \
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
dpkg --root="$root" -s quenda | grep -qx "Status: install ok installed" ||
    fail "dpkg does not count the package as installed"
check_installed_quenda "$root/usr/bin/quenda"
echo "ok: $(basename "$deb"), Depends: $depends"
