# Cross build for 64-bit Windows with Debian's mingw-w64 (x86_64-w64-mingw32).
# The shipped program is the 32-bit one; this build exists so that the same
# sources can be run and tested under a 64-bit-only Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(ROVANTA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
