# Cross build for 32-bit Windows with MinGW-w64 (posix threads: GoogleTest needs std::mutex).
# This is the product build: the file a user downloads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LARKSPAN_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${LARKSPAN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LARKSPAN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${LARKSPAN_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LARKSPAN_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
