// Placeholder until the simulated controller lands.
extern "C" int kmt_test_plugin_placeholder() {
  return 0;
}
