#!/usr/bin/env bash
# ThreadSanitizer where threads meet: the library's lock shared by host threads, the
# unit tests' scripted network servers, the panel's server and the MQTT bridge's broker
# thread. The programs without threads of their own (the command-line tool, examples,
# helpers) are left to the other builds, which keeps this stage short.
echo "== Clang build with ThreadSanitizer (the threaded parts)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target kmtv1 kmtv1_unit_tests kmtv1_host_tests \
      kmtv1_panel_tests kmtv1-panel kmtv1-mqtt
# Any report fails the run (the test preset's TSAN_OPTIONS say halt_on_error).
ctest --preset tsan -j "$jobs" \
      -R '^(unit_tests|host_tests_(sim|threads|silent_controller|waiting)|panel_.*|mqtt_bridge_.*)$'
