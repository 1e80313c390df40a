# The Debian packages Quenda needs, by purpose, and an installer for a choice of them.
# Sourced by scripts/start (build and run), scripts/package (and make the .deb) and
# scripts/install-deps (everything, the tests' desktop too: what CI runs).
#
#   source scripts/lib/packages.sh
#   install_packages [--force] build run ...

# To build Quenda: the toolchain, the libraries it links, the test framework its build compiles
# against, and what scripts/install-whisper-server uses to fetch the speech server's source.
quenda_build_packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev
  libcurl4-openssl-dev nlohmann-json3-dev uuid-dev libcpp-httplib-dev
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  libpulse-dev libespeak-ng-dev libx11-dev libxtst-dev
  curl ca-certificates
)

# To run it, beyond the libraries above: the programs it starts (the whisper.cpp server is
# built by scripts/install-whisper-server), Qt's display plugins, and on Wayland sessions the
# clipboard (wl-copy) and the paste keystroke on wlroots desktops (wtype).
quenda_run_packages=(
  ffmpeg qt6-qpa-plugins wl-clipboard wtype
)

# To make the .deb: dpkg-shlibdeps (dpkg-dev) computes the Depends, and CPack needs `file`.
quenda_package_packages=(
  dpkg-dev file
)

# Only for the tests: the headless desktop (Xvfb, a sound server, X11 tools that drive it),
# speech and sound makers, the private network and session bus, the real-server tests' model
# generator, and the validators of the installed files.
quenda_test_packages=(
  clang-format
  sox espeak-ng pulseaudio pulseaudio-utils
  pipewire wireplumber pipewire-pulse dbus-daemon
  fonts-dejavu-core xvfb xauth x11-utils x11-xserver-utils x11-xkb-utils xdotool xclip
  iproute2 util-linux procps python3
  desktop-file-utils appstream groff-base
  # a headless sway and Qt's Wayland platform for the Wayland paste test
  sway qt6-wayland
)

# Installs the packages of the named groups (build, run, package, test) that are missing, with
# sudo when not root. --force installs them all again.
install_packages() {
    local force="" group name
    local -a wanted=() missing=()
    if [ "${1:-}" = "--force" ]; then force=1; shift; fi
    for group in "$@"; do
        name="quenda_${group}_packages[@]"
        wanted+=("${!name}")
    done
    for name in "${wanted[@]}"; do
        [ "$(dpkg-query -W -f='${Status}' "$name" 2>/dev/null || true)" = "install ok installed" ] ||
            missing+=("$name")
    done
    if [ ${#missing[@]} -eq 0 ] && [ -z "$force" ]; then
        echo "packages: every package is installed already ($*)"
        return 0
    fi
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    local -a apt=(apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
    $sudo "${apt[@]}" update
    DEBIAN_FRONTEND=noninteractive $sudo "${apt[@]}" install -y --no-install-recommends "${wanted[@]}"
}
