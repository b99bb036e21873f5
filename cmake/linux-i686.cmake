# 32-bit Linux build with the host's GCC (-m32, from gcc-multilib), run under qemu-i386:
# the engine's 32-bit code paths (a 32-bit size_t in every size check, SSE2 arithmetic as
# on 32-bit Windows) tested on this machine.
#   cmake -S . -B build-m32 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

find_program(OCRB_QEMU_I386 NAMES qemu-i386)
if(OCRB_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OCRB_QEMU_I386})
endif()
