# Cross-compiles the engine for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix). Use with -DBRIK_TESTS=OFF -DBRIK_BENCHMARKS=OFF:
# the tests run on Linux against brik.exe under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BRIK_MINGW_PREFIX x86_64-w64-mingw32)

find_program(CMAKE_CXX_COMPILER NAMES ${BRIK_MINGW_PREFIX}-g++-posix ${BRIK_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${BRIK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRIK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One self-contained brik.exe: no libstdc++, libgcc or winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
