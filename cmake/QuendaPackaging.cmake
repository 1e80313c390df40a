# The Debian package (cpack -G DEB, or scripts/package): everything `cmake --install` lays out,
# under /usr. The shared libraries' Depends are computed by dpkg-shlibdeps from the installed
# executables; only what no executable links is named here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenda)
set(CPACK_PACKAGE_VENDOR "The Quenda developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "dictation and transcription for Brazilian Portuguese, run locally")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description.txt)
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quenda.app/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Quenda developers <developers@quenda.app>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# What the program needs that it does not link: ffmpeg, which it runs to convert audio files,
# and Qt's display plugins (only recommended by libqt6gui6; without them no window opens).
set(QUENDA_DEB_DEPENDS ffmpeg qt6-qpa-plugins)
# What it works better with: a sound server (any desktop has one), and on Wayland sessions the
# clipboard program (wl-copy) and, on wlroots desktops, the paste keystroke (wtype).
set(QUENDA_DEB_RECOMMENDS "pipewire-pulse | pulseaudio" wl-clipboard wtype)
list(JOIN QUENDA_DEB_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
list(JOIN QUENDA_DEB_RECOMMENDS ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)

include(CPack)
