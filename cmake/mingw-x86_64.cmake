# Cross-compiles the same sources as a 64-bit Windows program, for running the Windows tests on
# a machine whose kernel runs no 32-bit programs and therefore no 32-bit Wine. The program that
# is shipped is the 32-bit build of mingw-i686.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian's "wine" starts the 32-bit loader whenever it is installed, even where it cannot run.
find_program(WINE_PROGRAM wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
