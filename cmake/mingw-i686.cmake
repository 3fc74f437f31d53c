# Cross build for Windows on i686 with Debian's mingw-w64, posix-thread variant (the
# win32-thread variant has no std::mutex). cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Floating point in SSE2: binary64 with one rounding per operation, as on every other
# target, never the x87 unit's extended precision (which rounds twice and changes
# results). Every x86 processor since 2003 has SSE2; Windows 8 and later require it.
# Hosts may call with a stack aligned to 4 bytes only: functions that need more realign.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
