#!/usr/bin/env bash
# `cmake --install` into a temporary prefix lays out the program, its desktop files, icons, man
# page and bundled server, and the installed quenda runs its command line and finds that server.
#
#   install-test.sh BUILD_DIR FAKE_WHISPER_SERVER
set -euo pipefail
build=$1
fake=$2
source "$(dirname "$0")/installed-quenda.sh"
command -v sox >/dev/null || skip "sox is not installed (scripts/install-deps)"

make_server_dir "$scratch/server" "$fake"
prefix="$scratch/prefix"
QUENDA_BUNDLED_SERVER_DIR="$scratch/server" cmake --install "$build" --prefix "$prefix" \
    >"$scratch/install.log" || { cat "$scratch/install.log"; fail "cmake --install failed"; }

expected=(
    bin/quenda
    lib/quenda/modules/libquenda-desktop.so
    share/quenda/bin/whisper-server
    share/quenda/bin/whisper-server.build
    share/applications/app.quenda.Quenda.desktop
    share/metainfo/app.quenda.Quenda.metainfo.xml
    share/icons/hicolor/scalable/apps/app.quenda.Quenda.svg
    share/icons/hicolor/256x256/apps/app.quenda.Quenda.png
    share/man/man1/quenda.1.gz
)
actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$actual" = "$(printf '%s\n' "${expected[@]}" | sort)" ] ||
    fail "the installed files differ from the expected ones:
$(diff <(printf '%s\n' "${expected[@]}" | sort) <(echo "$actual") || true)"
[ -x "$prefix/bin/quenda" ] && [ -x "$prefix/share/quenda/bin/whisper-server" ] ||
    fail "the installed programs are not executable"

check_installed_quenda "$prefix/bin/quenda"

# Without a server to bundle, the install goes on and lays out the rest.
QUENDA_BUNDLED_SERVER_DIR="$scratch/none" cmake --install "$build" --prefix "$scratch/bare" \
    >/dev/null || fail "cmake --install without a server failed"
[ -x "$scratch/bare/bin/quenda" ] && [ ! -e "$scratch/bare/share/quenda/bin/whisper-server" ] ||
    fail "an install without a server should have quenda and no whisper-server"
echo "ok: the installed tree"
