# The front panel in the browser: an HTTP server in the tool's own process, with its page
# built into the binary. Needs cpp-httplib and nlohmann-json; left out of cross builds.
# Debian's cpp-httplib is a compiled library; its pkg-config file carries the flags its
# build used (which the header's declarations depend on).
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND AND NOT CMAKE_CROSSCOMPILING)
  pkg_check_modules(KMT_HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
endif()
find_package(nlohmann_json QUIET)
find_package(Threads)
if(KMT_HTTPLIB_FOUND AND nlohmann_json_FOUND AND Threads_FOUND AND NOT CMAKE_CROSSCOMPILING)
  set(KMT_PANEL ON)
  set(panel_dir ${PROJECT_SOURCE_DIR}/tools/panel)
  set(panel_web ${panel_dir}/web/index.html ${panel_dir}/web/panel.css ${panel_dir}/web/panel.js)
  set(panel_header ${PROJECT_BINARY_DIR}/generated/panel_assets.h)
  add_custom_command(OUTPUT ${panel_header}
    COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${panel_header}" "-DFILES=${panel_web}"
            -P ${panel_dir}/embed.cmake
    DEPENDS ${panel_web} ${panel_dir}/embed.cmake
    COMMENT "Embedding the panel's page" VERBATIM)
  add_library(kmtv1_panel STATIC ${panel_dir}/server.cpp ${panel_dir}/guarded_server.cpp
                               ${panel_dir}/controller.cpp
                                 ${panel_header})
  # The argument ranges and status words are the command-line tool's (tools/common/).
  target_include_directories(kmtv1_panel PUBLIC ${panel_dir}
                             PRIVATE ${PROJECT_BINARY_DIR}/generated ${PROJECT_SOURCE_DIR})
  target_link_libraries(kmtv1_panel PUBLIC kmtv1 kmtv1_tool_common PRIVATE PkgConfig::KMT_HTTPLIB
                        nlohmann_json::nlohmann_json Threads::Threads)
  # `kmtv1 panel`: the subcommand registers itself with the tool.
  if(TARGET kmtv1-cli)
    target_sources(kmtv1-cli PRIVATE ${panel_dir}/cmd_panel.cpp)
    target_link_libraries(kmtv1-cli PRIVATE kmtv1_panel)
  endif()
  # The panel alone, for its tests and for hosts without the command-line tool.
  if(CLI11_FOUND)
    add_executable(kmtv1-panel ${panel_dir}/main.cpp)
    target_link_libraries(kmtv1-panel PRIVATE kmtv1_panel CLI11::CLI11)
  endif()
  if(KMT_BUILD_TESTS)
    find_package(GTest REQUIRED)
    add_executable(kmtv1_panel_tests ${PROJECT_SOURCE_DIR}/tests/panel/host_check_test.cpp)
    target_link_libraries(kmtv1_panel_tests PRIVATE kmtv1_panel GTest::gtest_main)
    add_test(NAME panel_requests COMMAND kmtv1_panel_tests)
    # The real server over loopback: the request table, bodies of every framing, slow
    # and idle clients (about 20 s).
    find_package(Python3 COMPONENTS Interpreter QUIET)
    if(Python3_FOUND AND TARGET kmtv1-panel)
      add_test(NAME panel_http COMMAND Python3::Interpreter
               ${PROJECT_SOURCE_DIR}/tests/panel/panel_http_test.py $<TARGET_FILE:kmtv1-panel>)
      set_tests_properties(panel_http PROPERTIES TIMEOUT 120)
    endif()
  endif()
else()
  set(KMT_PANEL OFF)
endif()
