# The Windows DLL: KMTv1dll.dll, whose exports are named by library/kmtv1.def alone,
# undecorated, whatever the target's stdcall decoration (the header declares no
# dllexport when building). The C and C++ runtimes are linked in (see the toolchain
# files), so the DLL needs only system DLLs.
target_sources(kmtv1 PRIVATE library/kmtv1.def)
set_target_properties(kmtv1 PROPERTIES OUTPUT_NAME KMTv1dll PREFIX "" IMPORT_PREFIX "")
# VARIANT and BSTR handling (oleaut32), the error box (user32). Hosts make and read
# the discovery functions' VARIANTs with oleaut32 as well.
target_link_libraries(kmtv1_core PUBLIC oleaut32 user32)
target_link_libraries(kmtv1 INTERFACE oleaut32)
# The import library for MSVC's link.exe (KMTv1dll.lib), in the format lib.exe writes,
# made by llvm-dlltool from the .def (the zip ships it beside the MinGW one).
find_program(KMT_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
if(KMT_LLVM_DLLTOOL)
  set(KMT_MSVC_IMPORT_LIB ${PROJECT_BINARY_DIR}/bin/KMTv1dll.lib)
else()
  message(STATUS "llvm-dlltool not found: no import library for MSVC (KMTv1dll.lib)")
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The .def names each export without its @N: let the linker match the two silently.
  target_link_options(kmtv1 PRIVATE -Wl,--enable-stdcall-fixup)
  add_custom_command(TARGET kmtv1 POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL}
            "-DOBJECT=$<TARGET_OBJECTS:kmtv1>" -DDEF=${PROJECT_SOURCE_DIR}/library/kmtv1.def
            -DDLL_NAME=$<TARGET_FILE_NAME:kmtv1> -DOUTPUT=$<TARGET_LINKER_FILE:kmtv1>
            -DLLVM_DLLTOOL=${KMT_LLVM_DLLTOOL} -DMSVC_OUTPUT=${KMT_MSVC_IMPORT_LIB}
            -DWORK=${PROJECT_BINARY_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/stdcall_import_lib.cmake
    VERBATIM)
elseif(KMT_LLVM_DLLTOOL)
  # 64-bit names carry no decoration: the .def as it is.
  add_custom_command(TARGET kmtv1 POST_BUILD
    COMMAND ${KMT_LLVM_DLLTOOL} -m i386:x86-64 -d ${PROJECT_SOURCE_DIR}/library/kmtv1.def
            -D $<TARGET_FILE_NAME:kmtv1> -l ${KMT_MSVC_IMPORT_LIB}
    VERBATIM)
endif()
