# Toolchain for the Windows build: Debian's mingw-w64 cross-compiler for 64-bit Windows.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix-thread variant is named explicitly: the unsuffixed names follow the alternatives
# system and may point at the win32-thread variant, whose libstdc++ has no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(QUEN_MINGW_TRIPLE x86_64-w64-mingw32)
set(QUEN_MINGW_SYSROOT /usr/${QUEN_MINGW_TRIPLE})

set(CMAKE_C_COMPILER ${QUEN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUEN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUEN_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${QUEN_MINGW_TRIPLE}-dlltool)

# Headers and libraries come from the mingw-w64 sysroot only; programs run on the build host.
set(CMAKE_FIND_ROOT_PATH ${QUEN_MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
