# Shared part of the mingw-w64 toolchain files, which set only CMAKE_SYSTEM_PROCESSOR:
# Debian's compilers and root for that processor, and everything else.
set(CMAKE_SYSTEM_NAME Windows)
set(kmt_mingw ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${kmt_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kmt_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${kmt_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${kmt_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The C and C++ runtimes and the thread library linked in, so that programs and DLLs
# import only system DLLs; release builds stripped.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_MINSIZEREL_INIT "-s")
