# Cross build of ocrb.dll for 32-bit Windows with Debian's MinGW-w64 (posix threads).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Floating point uses SSE2 rather than the x87 unit, so that every double is rounded to
# double at each step, as on 64-bit builds. Nothing here can run the programs: the build is
# checked statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OCRB_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER ${OCRB_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OCRB_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OCRB_TRIPLE}-windres)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_FIND_ROOT_PATH /usr/${OCRB_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
