# Compiler settings shared by every target of the project.
add_library(quenda_options INTERFACE)
target_compile_options(quenda_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                -Wno-sign-conversion -Wnon-virtual-dtor)
if(QUENDA_WARNINGS_AS_ERRORS)
    target_compile_options(quenda_options INTERFACE -Werror)
endif()

if(QUENDA_SANITIZE)
    add_compile_options(-fsanitize=${QUENDA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${QUENDA_SANITIZE})
endif()

# Adds one component library: quenda_add_library(name SOURCES ... LIBS ...).
function(quenda_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    # Position-independent: the windowed application's module links these libraries too.
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC quenda_options ${ARG_LIBS})
endfunction()

# Adds one GoogleTest executable registered with CTest:
# quenda_add_test(name SOURCES ... LIBS ... [LABELS ...] [RESOURCE_LOCK ...] [ENVIRONMENT ...]
#                 [TIMEOUT seconds])
function(quenda_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCE_LOCK;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE quenda_test_support ${ARG_LIBS} GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30)
    # The discovered tests get their properties from a script CTest reads after the discovery
    # script: passed through discovery, an empty value would shift every name after it and a
    # list value (two resource locks) would be cut in pieces.
    set(script "")
    foreach(property LABELS RESOURCE_LOCK ENVIRONMENT TIMEOUT)
        if(NOT "${ARG_${property}}" STREQUAL "")
            string(APPEND script "    set_tests_properties(\${${name}_TESTS} PROPERTIES "
                                 "${property} [==[${ARG_${property}}]==])\n")
        endif()
    endforeach()
    if(script)
        set(file "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
        file(WRITE "${file}" "if(${name}_TESTS)\n${script}endif()\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${file}")
    endif()
endfunction()
