# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread and std::mutex need) against the host's Qt headers, for scripts/check-windows.
# There is no Windows Qt here, so nothing built with this file can be linked or run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Debian's Qt, whose CMake files and headers are the same as a Windows kit's in all that the
# compiler sees, except the platform-specific few that Q_OS_WIN selects.
list(APPEND CMAKE_PREFIX_PATH /usr/lib/x86_64-linux-gnu/cmake)
# EDFlib's header alone, from Debian's libedf-dev (cmake/TarvexEdflib.cmake): the rest of
# /usr/include is Linux's and must not reach the Windows compiler.
set(TARVEX_EDFLIB_HEADER /usr/include/edflib.h)
