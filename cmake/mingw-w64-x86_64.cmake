# Cross build for 64-bit Windows with Debian's MinGW-w64, against the libraries
# that scripts/windows-sdk builds.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The SDK folder is QV58LINK_WINSDK (cache variable or environment), by default
# $HOME/.cache/qv58link-winsdk, the same default as the script's.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: the win32 one has no std::thread or std::mutex in
# GCC 12's libstdc++.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-ar CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib CACHE FILEPATH "")

if(NOT QV58LINK_WINSDK)
    if(DEFINED ENV{QV58LINK_WINSDK} AND NOT "$ENV{QV58LINK_WINSDK}" STREQUAL "")
        set(QV58LINK_WINSDK "$ENV{QV58LINK_WINSDK}")
    else()
        set(QV58LINK_WINSDK "$ENV{HOME}/.cache/qv58link-winsdk")
    endif()
endif()
# try_compile projects read this file again without the caller's cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QV58LINK_WINSDK)

# Each library has a folder of its own in the SDK, so that rebuilding one never
# leaves another's stale files behind.
set(CMAKE_FIND_ROOT_PATH
    /usr/x86_64-w64-mingw32
    "${QV58LINK_WINSDK}/openssl"
    "${QV58LINK_WINSDK}/curl"
    "${QV58LINK_WINSDK}/qt"
    "${QV58LINK_WINSDK}/googletest")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# moc, rcc and uic come from the build machine's own Qt, which must be the same
# version as the SDK's.
if(NOT QT_HOST_PATH)
    set(QT_HOST_PATH /usr)
endif()
if(NOT QT_HOST_PATH_CMAKE_DIR AND EXISTS /usr/lib/x86_64-linux-gnu/cmake/Qt6)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
