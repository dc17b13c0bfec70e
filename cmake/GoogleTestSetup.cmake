# GoogleTest: Debian's package natively; for the cross build, Debian's sources under
# /usr/src/googletest compiled with the cross compiler.
if(CMAKE_CROSSCOMPILING)
    set(QINGLAN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QINGLAN_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Where the test scripts keep the Wine prefix and the browser stand-in for this build.
set(QINGLAN_WINE_DIR ${PROJECT_BINARY_DIR}/wine-env CACHE PATH "Wine environment of the tests")

# A test executable of the project's own, registered with ctest test by test.
function(qinglan_add_test_executable target)
    add_executable(${target} ${ARGN})
    qinglan_target_defaults(${target})
    target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main)
    if(WIN32)
        target_link_options(${target} PRIVATE -mconsole)
    endif()
    if(CMAKE_CROSSCOMPILING)
        # Under Wine each process takes seconds to start, so each executable is one ctest test
        # (GoogleTest still reports every case). The browser stand-in records what the shell was
        # asked to open; the tests read its log through Wine's drive Z:, the Unix root.
        add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
        set_tests_properties(${target} PROPERTIES TIMEOUT 600
            ENVIRONMENT "QINGLAN_BROWSER_LOG=Z:${QINGLAN_WINE_DIR}/browser-calls.log")
    else()
        gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
    endif()
endfunction()
