# Shared part of the mingw-w64 toolchain files. Expects VARNEK_MINGW_TRIPLE.
set(CMAKE_C_COMPILER ${VARNEK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNEK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNEK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VARNEK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Runtimes linked statically: the program needs no DLL beside the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests of the cross build run under Wine; a release build needs no Wine.
find_program(VARNEK_WINE wine)
if(VARNEK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNEK_WINE})
endif()
