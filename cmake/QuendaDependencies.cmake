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
