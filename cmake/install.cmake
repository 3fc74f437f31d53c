# What `cmake --install` adds beyond the library, its header, its CMake package and the
# udev rule: a pkg-config file, the tools with a run path that finds the installed
# library, and the Python package.
#
# Every installed path is relative to the prefix, so `cmake --install build --prefix P`
# works for any P chosen at install time.

function(kmt_relative_to_prefix out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

# pkg-config: the prefix is found from the .pc file's own folder.
set(KMT_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KMT_PC_TO_PREFIX /prefix/${KMT_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" KMT_PC_TO_PREFIX "${KMT_PC_TO_PREFIX}")
kmt_relative_to_prefix(KMT_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
kmt_relative_to_prefix(KMT_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/kmtv1.pc.in ${PROJECT_BINARY_DIR}/kmtv1.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kmtv1.pc DESTINATION ${KMT_PKGCONFIG_DIR})

# The tools find the library in ../lib (or wherever the library directory lies
# relative to the program directory), not through LD_LIBRARY_PATH.
if(NOT WIN32)
  file(RELATIVE_PATH kmt_bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set(KMT_TOOL_RPATH "$ORIGIN/${kmt_bin_to_lib}")
  if(APPLE)
    set(KMT_TOOL_RPATH "@loader_path/${kmt_bin_to_lib}")
  endif()
  foreach(tool kmtv1-cli kmtv1-demo)
    if(TARGET ${tool})
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "${KMT_TOOL_RPATH}")
    endif()
  endforeach()
endif()
install(TARGETS kmtv1-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The Python package (pure Python; nothing compiled). It goes where the prefix's
# interpreter looks: Debian's python3 reads <prefix>/lib/python3.X/dist-packages for
# /usr/local, other builds <prefix>/lib/python3.X/site-packages.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_FOUND)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c "import sysconfig; print(sysconfig.get_path('purelib'))"
    OUTPUT_VARIABLE kmt_purelib OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(kmt_site_kind "${kmt_purelib}" NAME)
  if(NOT kmt_site_kind STREQUAL "dist-packages")
    set(kmt_site_kind site-packages)
  endif()
  set(kmt_python_default
      lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/${kmt_site_kind})
else()
  set(kmt_python_default lib/python3/site-packages)
endif()
set(KMT_PYTHON_INSTALL_DIR ${kmt_python_default}
    CACHE STRING "Where cmake --install puts the Python package (relative to the prefix)")
# The installed package loads the library installed with it, found relative to itself.
file(RELATIVE_PATH KMT_PYTHON_TO_LIB /prefix/${KMT_PYTHON_INSTALL_DIR}/kmtv1
     /prefix/${CMAKE_INSTALL_LIBDIR})
if(WIN32)
  file(RELATIVE_PATH KMT_PYTHON_TO_LIB /prefix/${KMT_PYTHON_INSTALL_DIR}/kmtv1
       /prefix/${CMAKE_INSTALL_BINDIR})
endif()
file(WRITE ${PROJECT_BINARY_DIR}/python-install/_installed.py
     "# Written by cmake --install: the library installed with this package.\n"
     "LIBRARY_DIR = \"${KMT_PYTHON_TO_LIB}\"\n")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/kmtv1 DESTINATION ${KMT_PYTHON_INSTALL_DIR}
        FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
# With the version written at configure time (cmake/python.cmake), so that installing
# needs no build step of the package.
install(FILES ${PROJECT_BINARY_DIR}/python-install/_installed.py
              ${PROJECT_BINARY_DIR}/python/kmtv1/_version.py
        DESTINATION ${KMT_PYTHON_INSTALL_DIR}/kmtv1)
