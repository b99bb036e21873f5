# Cross build of ocrb.dll for 64-bit Windows with Debian's MinGW-w64 (posix threads).
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# Test programs run under wine64 when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OCRB_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${OCRB_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OCRB_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OCRB_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OCRB_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian installs the 64-bit loader outside PATH.
find_program(OCRB_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(OCRB_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OCRB_WINE64})
endif()
