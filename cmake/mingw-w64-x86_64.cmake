# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
# The posix thread model gives the standard library its threads and sleeps.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELKOR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELKOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELKOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELKOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELKOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that runs without the MinGW runtime DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
