# Compiler settings for the project's own targets (not for third-party code built alongside).

set(QINGLAN_WARNINGS
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Werror)
# GCC 12 reports false overlaps inside libstdc++'s string concatenation at -O2 and above
# (GCC bug 105329).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND QINGLAN_WARNINGS -Wno-restrict)
endif()
set(QINGLAN_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)

function(qinglan_target_defaults target)
    if(MSVC)
        target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:/W4;/WX;/utf-8>")
    else()
        target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${QINGLAN_WARNINGS}>")
    endif()
    if(QINGLAN_SANITIZE AND NOT WIN32)
        target_compile_options(${target} PRIVATE
            "$<$<COMPILE_LANGUAGE:CXX>:${QINGLAN_SANITIZERS}>")
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
endfunction()

if(WIN32)
    # Unicode window APIs throughout; texts are converted from code page 936 explicitly.
    add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()
