# The release build of the module for every Windows from XP SP3 on: the
# win32-threads compiler, so that no threading library (and none of its
# Vista-only imports) is linked in; XP declared as the target, so that newer
# APIs are not even declared; stripped, GUI subsystem, OS and subsystem
# version 5.1 (XP). Reproducible: no build path in the binary, and the PE time
# stamp comes from SOURCE_DATE_EPOCH, which the linker reads.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-common.cmake)
add_compile_definitions(_WIN32_WINNT=0x0501 WINVER=0x0501)
add_compile_options(-ffile-prefix-map=${CMAKE_CURRENT_LIST_DIR}/..=.)
add_link_options(-s -Wl,--subsystem,windows:5.01 -Wl,--major-os-version,5 -Wl,--minor-os-version,1)
