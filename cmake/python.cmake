# The Python package as pip and `cmake --install` take it: build/python/, a copy of
# python/ with the project's version written in (pyproject.toml and kmtv1/_version.py).
# The source tree carries no version of its own (run from there, the package reports
# the loaded library's).
set(kmt_python_build ${PROJECT_BINARY_DIR}/python)
file(GLOB kmt_python_files CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/python
     ${PROJECT_SOURCE_DIR}/python/README.md ${PROJECT_SOURCE_DIR}/python/kmtv1/*.py
     ${PROJECT_SOURCE_DIR}/python/kmtv1/py.typed)
set(kmt_python_copies)
foreach(file IN LISTS kmt_python_files)
  add_custom_command(OUTPUT ${kmt_python_build}/${file}
                     COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/python/${file}
                             ${kmt_python_build}/${file}
                     DEPENDS ${PROJECT_SOURCE_DIR}/python/${file})
  list(APPEND kmt_python_copies ${kmt_python_build}/${file})
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/python/pyproject.toml.in ${kmt_python_build}/pyproject.toml
               @ONLY)
file(CONFIGURE OUTPUT ${kmt_python_build}/kmtv1/_version.py
     CONTENT "# Written by the build from the project's version.\n__version__ = \"${PROJECT_VERSION}\"\n")
add_custom_target(kmtv1-python ALL DEPENDS ${kmt_python_copies})
