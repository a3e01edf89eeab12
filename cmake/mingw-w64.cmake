# Cross-compiles the Windows executable with mingw-w64 on Linux and runs the
# result under wine.
#   cmake --preset windows   (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNSEK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNSEK_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TARNSEK_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TARNSEK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNSEK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executable carries its runtime: no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and try_run start the Windows programs through wine.
find_program(TARNSEK_WINE NAMES wine wine64)
if(TARNSEK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNSEK_WINE})
endif()
