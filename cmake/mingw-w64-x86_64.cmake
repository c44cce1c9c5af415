# Cross-builds for Windows x64 with Debian's MinGW-w64 (posix thread model, which Qt needs).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=<Qt for MinGW-w64>
# Built programs run under Wine: ctest starts them through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(toolchain x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${toolchain}-gcc-posix)
set(CMAKE_CXX_COMPILER ${toolchain}-g++-posix)
set(CMAKE_RC_COMPILER ${toolchain}-windres)

# Libraries and headers only from the target's own root and Qt's prefix; programs (Qt's host
# moc among them) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${toolchain})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# The MinGW runtime the program and Qt's libraries load, shipped beside them.
set(VANTOREL_MINGW_RUNTIME
    /usr/lib/gcc/${toolchain}/12-posix/libstdc++-6.dll
    /usr/lib/gcc/${toolchain}/12-posix/libgcc_s_seh-1.dll
    /usr/${toolchain}/lib/libwinpthread-1.dll)
