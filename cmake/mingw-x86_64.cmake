# Cross build for Windows on x86_64 with Debian's mingw-w64, posix-thread variant (the
# win32-thread variant has no std::mutex). cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
