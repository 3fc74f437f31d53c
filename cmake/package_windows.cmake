# Read by cpack when it makes the Windows zip: with -D KMT_ZIP_X86_BUILD=FOLDER, the
# binaries of that 32-bit build go into x86/ beside this build's x64/.
if(KMT_ZIP_X86_BUILD)
  if(NOT EXISTS "${KMT_ZIP_X86_BUILD}/cmake_install.cmake")
    message(FATAL_ERROR "KMT_ZIP_X86_BUILD: ${KMT_ZIP_X86_BUILD} is no configured build")
  endif()
  list(PREPEND CPACK_INSTALL_CMAKE_PROJECTS "${KMT_ZIP_X86_BUILD};kmtv1;windows;/x86")
endif()
