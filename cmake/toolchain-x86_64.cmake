# Cross build for 64-bit Windows with MinGW-w64 (posix threads: GoogleTest needs std::mutex).
# This is the build that runs under Wine on the development machines.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LARKSPAN_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${LARKSPAN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LARKSPAN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${LARKSPAN_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LARKSPAN_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
