# Shared by the mingw-w64 toolchain files; ROVANTA_MINGW_TRIPLE names the target.
# The "-win32" compiler flavour uses Windows' own threads, so the program needs
# no winpthread DLL; fall back to the plain name where it is not installed.
find_program(ROVANTA_MINGW_CC NAMES ${ROVANTA_MINGW_TRIPLE}-gcc-win32 ${ROVANTA_MINGW_TRIPLE}-gcc)
find_program(ROVANTA_MINGW_CXX NAMES ${ROVANTA_MINGW_TRIPLE}-g++-win32 ${ROVANTA_MINGW_TRIPLE}-g++)
set(CMAKE_C_COMPILER ${ROVANTA_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ROVANTA_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ROVANTA_MINGW_TRIPLE}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

set(CMAKE_FIND_ROOT_PATH /usr/${ROVANTA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
