# Cross builds for Windows: CLI11 and nlohmann-json are header-only and need nothing of
# the target, so the command-line tool takes Debian's copies from the build machine.
# Only their own folders are put on the include path (through links in the build
# folder), never the build machine's /usr/include, whose C library headers would stand
# in for the target's.
set(kmt_host_headers ${PROJECT_BINARY_DIR}/host-headers)
foreach(library IN ITEMS "CLI11;CLI/CLI.hpp;CLI;CLI11::CLI11"
                         "nlohmann_json;nlohmann/json.hpp;nlohmann;nlohmann_json::nlohmann_json")
  list(GET library 0 package)
  list(GET library 1 header)
  list(GET library 2 folder)
  list(GET library 3 target)
  if(${package}_FOUND)
    continue()
  endif()
  find_path(KMT_HOST_${package}_INCLUDE ${header} PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(KMT_HOST_${package}_INCLUDE)
    file(MAKE_DIRECTORY ${kmt_host_headers})
    file(CREATE_LINK ${KMT_HOST_${package}_INCLUDE}/${folder} ${kmt_host_headers}/${folder}
         SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${kmt_host_headers})
    set(${package}_FOUND TRUE)
  endif()
endforeach()
