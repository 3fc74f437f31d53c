# Packages made by cpack from a configured build:
#   Linux:   Debian packages, `cpack -G DEB` in a build configured with the prefix /usr
#            (scripts/test.d/80-package.sh; README: Install from a package).
#   Windows: one zip for both bitnesses, `cpack -G ZIP` in the 64-bit cross build with the
#            32-bit build named beside it (see the end of this file).
#
# Every install() rule names its component; a new installed file picks one of these:
#   runtime         the shared library (and its SONAME link)                -> libkmtv1-1
#   development     header, pkg-config file, CMake package, the .so link    -> libkmtv1-dev
#   tools           programs, their helper programs (libexec/kmtv1), the udev
#                   rule, systemd units (never enabled or started)          -> kmtv1-tools
#   python          the Python package                                      -> python3-kmtv1
#   windows         the zip's per-bitness folder x86/ or x64/ (EXCLUDE_FROM_ALL)
#   windows_common  the zip's top folder: header, .def, notes, licence, and whatever
#                   serves both bitnesses (an AnyCPU .NET assembly) (EXCLUDE_FROM_ALL)
# A Linux-only program belongs to tools: a helper in ${CMAKE_INSTALL_LIBEXECDIR}/kmtv1,
# a systemd unit in lib/systemd/system (no maintainer script enables or starts it).
# A Windows program of one bitness belongs to windows (DESTINATION .).
set(KMT_PACKAGE_MAINTAINER "kmtv1 maintainers <maintainers@kmtv1.example>"
    CACHE STRING "Maintainer field of the Debian packages")
set(KMT_DEB_REVISION 1 CACHE STRING "Debian revision of the packages (VERSION-REVISION)")

set(CPACK_PACKAGE_NAME kmtv1)
set(CPACK_PACKAGE_VENDOR "kmtv1")
set(CPACK_PACKAGE_CONTACT "${KMT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# The licence: LICENSE at the top of the sources.
set(KMT_LICENSE_FILE ${PROJECT_SOURCE_DIR}/LICENSE)

if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime development tools python)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${KMT_DEB_REVISION})
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(kmt_deb_version "${PROJECT_VERSION}-${KMT_DEB_REVISION}")
  # Depends: from the binaries (dpkg-shlibdeps), which finds the project's own library in
  # the build folder; that one has no package information yet, so the packages built
  # together name each other with their exact version.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS OFF)

  set(kmt_packaging ${PROJECT_SOURCE_DIR}/packaging/debian)
  set(kmt_deb_components runtime development tools python)
  set(kmt_deb_runtime libkmtv1-1)
  set(kmt_deb_development libkmtv1-dev)
  set(kmt_deb_tools kmtv1-tools)
  set(kmt_deb_python python3-kmtv1)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${kmt_deb_runtime})
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  # The library's directory is the dynamic loader's: the ldconfig trigger refreshes its
  # cache. (CPack adds a postinst and postrm calling ldconfig as well.)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${kmt_packaging}/libkmtv1-1/triggers)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
      "host library for the KMTC multi-function USB I/O controller
libkmtv1 drives the KMTC USB I/O controller (digital lines, analog inputs and
outputs, I2C, SPI, UART and 1-Wire masters, signal generator, counter, block
acquisition) through the D2XX driver of its FTDI USB-serial bridge, or through
the kernel's own ftdi_sio driver where that library is not installed. A
simulated controller is built in (KMT_DRIVER=sim).
This package holds the shared library.")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${kmt_deb_development})
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${kmt_deb_runtime} (= ${kmt_deb_version})")
  set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
      "host library for the KMTC USB I/O controller (development files)
libkmtv1 drives the KMTC multi-function USB I/O controller through the D2XX
driver of its FTDI USB-serial bridge or the kernel's ftdi_sio driver.
This package holds the C header, the pkg-config file (kmtv1), the CMake
package (find_package(kmtv1)) and the link to the shared library.")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${kmt_deb_tools})
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${kmt_deb_runtime} (= ${kmt_deb_version})")
  # Makes the udev rule take effect at once; starts and enables nothing.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${kmt_packaging}/kmtv1-tools/postinst
                                               ${kmt_packaging}/kmtv1-tools/postrm)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION
      "command-line tool and udev rule for the KMTC USB I/O controller
kmtv1 lists, reads, writes and acquires from KMTC multi-function USB I/O
controllers, with JSON output for scripts, an interactive shell, protocol
traces and their replay, and a front panel in the browser. Its helper
programs run a simulated controller behind pseudo-terminals and diagnose the
machine's setup. The udev rule gives controllers to the group plugdev and to
the user at the seat.")

  # Pure Python, loading the library by its name: one package for every architecture.
  # Its own package (not inside kmtv1-tools): Python programs need neither the tool nor
  # its libraries, and Debian users look for a module foo as python3-foo.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${kmt_deb_python})
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, ${kmt_deb_runtime} (>= ${kmt_deb_version})")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-numpy")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "Python binding of libkmtv1, for the KMTC USB I/O controller
The kmtv1 module calls the KMTC controller library through ctypes: a
Controller class with one method per function of the controller, block
acquisitions and logic scans (as NumPy arrays when NumPy is installed).")

  # What Debian asks of every package: the copyright file and the changelog in
  # /usr/share/doc/PACKAGE, and the overrides of lintian checks that do not apply.
  if(EXISTS ${KMT_LICENSE_FILE})
    file(READ ${KMT_LICENSE_FILE} kmt_license_text)
  else()
    message(WARNING "${KMT_LICENSE_FILE} is missing: the packages' copyright files name none")
    set(kmt_license_text "No licence file was found in the sources.\n")
  endif()
  string(TIMESTAMP kmt_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  string(TIMESTAMP kmt_year "%Y" UTC)
  file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
       "kmtv1 ${PROJECT_VERSION}: host library, tools and Python binding for the KMTC\n"
       "multi-function USB I/O controller.\n\n"
       "Copyright (C) ${kmt_year} the kmtv1 developers\n\n"
       "${kmt_license_text}")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/changelog
       "kmtv1 (${kmt_deb_version}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}, packaged by CPack from the kmtv1 sources.\n\n"
       " -- ${KMT_PACKAGE_MAINTAINER}  ${kmt_changelog_date}\n")
  find_program(KMT_GZIP gzip)
  if(KMT_GZIP)
    # -n: no name or time stamp in the header, so the same changelog gives the same bytes.
    execute_process(COMMAND ${KMT_GZIP} -9nf ${PROJECT_BINARY_DIR}/debian/changelog
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  foreach(component IN LISTS kmt_deb_components)
    set(package ${kmt_deb_${component}})
    install(FILES ${PROJECT_BINARY_DIR}/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component}
            EXCLUDE_FROM_ALL)
    install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} RENAME changelog.Debian.gz
            COMPONENT ${component} EXCLUDE_FROM_ALL)
    if(EXISTS ${kmt_packaging}/${package}/lintian-overrides)
      install(FILES ${kmt_packaging}/${package}/lintian-overrides
              DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${package}
              COMPONENT ${component} EXCLUDE_FROM_ALL)
    endif()
  endforeach()
endif()

if(WIN32)
  # One bitness's binaries, for the zip's x86/ or x64/ folder: the DLL, its import
  # libraries for MSVC (KMTv1dll.lib, see cmake/windows.cmake) and MinGW
  # (KMTv1dll.dll.a), the programs, and the simulated controller's ftd2xx.dll in
  # simulator/, so that it is copied beside a program on purpose, never shipped with the
  # DLL by mistake.
  install(PROGRAMS $<TARGET_FILE:kmtv1> DESTINATION . COMPONENT windows EXCLUDE_FROM_ALL)
  install(FILES $<TARGET_LINKER_FILE:kmtv1> ${KMT_MSVC_IMPORT_LIB}
          DESTINATION . COMPONENT windows EXCLUDE_FROM_ALL)
  foreach(program kmtv1-cli kmtv1-demo)
    if(TARGET ${program})
      install(PROGRAMS $<TARGET_FILE:${program}> DESTINATION . COMPONENT windows
              EXCLUDE_FROM_ALL)
    endif()
  endforeach()
  install(PROGRAMS $<TARGET_FILE:kmtv1_sim_d2xx> DESTINATION simulator COMPONENT windows
          EXCLUDE_FROM_ALL)

  # The top folder, shared by both: the header, the .def, the Windows page
  # (docs/windows.md) as README-Windows.txt (with Windows line ends), the licence.
  file(READ ${PROJECT_SOURCE_DIR}/docs/windows.md kmt_notes)
  string(REPLACE "\n" "\r\n" kmt_notes "${kmt_notes}")
  file(WRITE ${PROJECT_BINARY_DIR}/README-Windows.txt
       "kmtv1 ${PROJECT_VERSION} for Windows: x86\\ for 32-bit hosts, x64\\ for 64-bit hosts.\r\n"
       "From docs/windows.md of the sources.\r\n\r\n${kmt_notes}")
  install(FILES include/kmtv1.h ${PROJECT_BINARY_DIR}/include/kmtv1_version.h library/kmtv1.def
                ${PROJECT_BINARY_DIR}/README-Windows.txt
          DESTINATION . COMPONENT windows_common EXCLUDE_FROM_ALL)
  # The .NET assembly (AnyCPU: one for both bitnesses) and its documentation; its
  # target is built on request (cmake --build BUILD --target kmtv1-dotnet).
  if(TARGET kmtv1-dotnet)
    install(FILES ${PROJECT_BINARY_DIR}/dotnet/Kmtv1.dll ${PROJECT_BINARY_DIR}/dotnet/Kmtv1.xml
            DESTINATION . COMPONENT windows_common EXCLUDE_FROM_ALL)
  endif()
  if(EXISTS ${KMT_LICENSE_FILE})
    install(FILES ${KMT_LICENSE_FILE} DESTINATION . RENAME LICENSE.txt
            COMPONENT windows_common EXCLUDE_FROM_ALL)
  else()
    message(WARNING "${KMT_LICENSE_FILE} is missing: the zip holds no licence")
  endif()

  # cpack -G ZIP in the 64-bit build makes the zip; -D KMT_ZIP_X86_BUILD=FOLDER names the
  # 32-bit build whose binaries go into x86/ (cmake/package_windows.cmake).
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kmtv1-${PROJECT_VERSION}-windows)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(KMT_ZIP_FOLDER x86)
  else()
    set(KMT_ZIP_FOLDER x64)
  endif()
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};kmtv1;windows;/${KMT_ZIP_FOLDER}"
                                   "${PROJECT_BINARY_DIR};kmtv1;windows_common;/")
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package_windows.cmake)
endif()

include(CPack)
