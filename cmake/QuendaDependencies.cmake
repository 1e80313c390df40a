# Third-party libraries (Debian packages installed by scripts/install-deps).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)

# cpp-httplib (Debian ships it as a compiled library), for the test fakes and test servers.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(quenda_httplib INTERFACE)
target_link_libraries(quenda_httplib INTERFACE PkgConfig::HTTPLIB Threads::Threads)

# Desktop platform libraries (only the Qt adapters, app/ and ui/ use Qt).
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets DBus Test)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(XTST REQUIRED IMPORTED_TARGET xtst)
pkg_check_modules(ESPEAK_NG REQUIRED IMPORTED_TARGET espeak-ng)
