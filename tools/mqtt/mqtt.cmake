# The MQTT bridge `kmtv1-mqtt` (needs libmosquitto): a program of its own, one per
# controller, talking to the controller through the exported functions only.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND AND NOT CMAKE_CROSSCOMPILING)
  pkg_check_modules(KMT_MOSQUITTO QUIET IMPORTED_TARGET libmosquitto)
endif()
find_package(Threads)
if(KMT_MOSQUITTO_FOUND AND Threads_FOUND)
  set(mqtt_dir ${PROJECT_SOURCE_DIR}/tools/mqtt)
  # Options, topics and payloads: pure code, shared with the bridge's unit tests.
  add_library(kmtv1_mqtt_parts STATIC ${mqtt_dir}/options.cpp ${mqtt_dir}/topics.cpp)
  # The argument ranges and status words are the command-line tool's (tools/common/).
  target_include_directories(kmtv1_mqtt_parts PUBLIC ${PROJECT_SOURCE_DIR})
  add_executable(kmtv1-mqtt ${mqtt_dir}/main.cpp ${mqtt_dir}/bridge.cpp ${mqtt_dir}/broker.cpp)
  target_compile_definitions(kmtv1-mqtt PRIVATE KMTV1_TOOL_VERSION="${PROJECT_VERSION}")
  target_link_libraries(kmtv1-mqtt PRIVATE kmtv1_mqtt_parts kmtv1_tool_common kmtv1
                        PkgConfig::KMT_MOSQUITTO
                        Threads::Threads)
  # A helper program of the tool (`kmtv1 mqtt` runs it), installed with the others; it
  # finds the shared library from there.
  install(TARGETS kmtv1-mqtt RUNTIME DESTINATION ${KMT_HELPER_DIR} COMPONENT tools)
  file(RELATIVE_PATH kmt_helpers_to_lib /prefix/${KMT_HELPER_DIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(kmtv1-mqtt PROPERTIES INSTALL_RPATH "$ORIGIN/${kmt_helpers_to_lib}")
  # The systemd template unit, one instance per controller (docs/mqtt.md). Relative to
  # the prefix: systemd reads it there when the prefix is /usr; elsewhere copy or link it
  # to /etc/systemd/system. Its ExecStart names the program by absolute path, so it is
  # written at install time: `cmake --install --prefix DIR` gets DIR.
  set(KMT_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
      "Where cmake --install puts the systemd unit of the MQTT bridge")
  install(CODE "
    set(program_dir \"\${CMAKE_INSTALL_PREFIX}/${KMT_HELPER_DIR}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/systemd/kmtv1-mqtt@.service.in\"
                   \"${PROJECT_BINARY_DIR}/systemd/kmtv1-mqtt@.service\" @ONLY)"
          COMPONENT tools)
  install(FILES ${PROJECT_BINARY_DIR}/systemd/kmtv1-mqtt@.service
          DESTINATION ${KMT_SYSTEMD_UNIT_DIR} COMPONENT tools)
endif()
