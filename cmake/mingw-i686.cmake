# Cross-build for 32-bit Windows with mingw-w64; tests run under Wine. The
# posix thread model: GoogleTest needs std::mutex. (What is shipped is built
# by mingw-i686-release.cmake.)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-common.cmake)
