# Shared by the packaging tests: runs an installed quenda's command line as a user would, in a
# home of its own, with the fake whisper-server as its bundled server. Source it: it makes
# `scratch`, a private folder removed when the test ends.

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() {
    echo "SKIP: $*"
    exit 77
}

# A folder laid out like a built speech server (the program and the installer's version note),
# for QUENDA_BUNDLED_SERVER_DIR.
make_server_dir() {
    local dir=$1 fake=$2
    mkdir -p "$dir"
    cp "$fake" "$dir/whisper-server"
    echo "fake whisper-server for the packaging tests" >"$dir/whisper-server.build"
}

# `quenda --cli last` prints the saved transcription, and `quenda --cli transcribe` reaches the
# bundled server beside the installation (the fake answers with the model file's text).
check_installed_quenda() {
    local quenda=$1
    local home="$scratch/home"
    mkdir -p "$home/data/Quenda" "$home/models" "$home/tmp"
    printf 'texto salvo' >"$home/data/Quenda/ultima_transcricao.txt"
    printf 'fake-ggml-model\ntext do pacote\n' >"$home/models/ggml-base.bin"
    sox -n -r 16000 -c 1 -b 16 "$home/tom.wav" synth 1 sine 440 vol 0.5 ||
        fail "sox could not make the test tone"
    local -a environment=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$home/data"
                          QUENDA_MODELS_DIR="$home/models" TMPDIR="$home/tmp"
                          FAKE_WHISPER_RECORD="$home/whisper.jsonl")
    local out
    out=$("${environment[@]}" "$quenda" --cli last) || fail "$quenda --cli last failed"
    [ "$out" = "texto salvo" ] || fail "$quenda --cli last printed '$out'"
    out=$("${environment[@]}" "$quenda" --cli transcribe "$home/tom.wav" --model base) ||
        fail "$quenda --cli transcribe failed: $out"
    [ "$out" = "do pacote" ] || fail "$quenda --cli transcribe printed '$out'"
    # The server that answered is the fake, which exists only in this installation.
    grep -q '"event":"start"' "$home/whisper.jsonl" || fail "the bundled server was not started"
    # The window's module beside the installation loads with this machine's libraries.
    local module
    module="$(dirname "$quenda")/../lib/quenda/modules/libquenda-desktop.so"
    python3 -c 'import ctypes, os, sys
ctypes.CDLL(sys.argv[1], mode=os.RTLD_NOW).quenda_run_windowed_application' "$module" ||
        fail "the window module $module does not load"
    echo "ok: $quenda printed the last text and transcribed through its bundled server"
}
