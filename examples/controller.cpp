// A small RAII wrapper over the handle: the constructor opens a controller, the
// destructor closes it, and a failed status becomes an exception.
//
// Build against an installed library (C++17 or later), one command:
//   c++ -std=c++17 controller.cpp -o controller $(pkg-config --cflags --libs kmtv1)
//       -Wl,-rpath,$(pkg-config --variable=libdir kmtv1)
// Run without hardware: KMT_DRIVER=sim ./controller
#include <kmtv1.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

namespace kmt {

struct Error : std::runtime_error {
  Error(const std::string &function, std::int32_t status)
      : std::runtime_error(function + " failed with status " + std::to_string(status)),
        status(status) {}
  std::int32_t status;
};

inline void check(const char *function, std::int32_t status) {
  if (status != KMT_STATUS_OK) throw Error(function, status);
}

// The full serial-number string (type code + serial) of the first controller found.
inline std::string first_controller() {
  std::int32_t count = 0, status = 0;
  KMT_CreateListDevs("KMTCV1", &count, &status);
  if (count < 1) throw Error("KMT_CreateListDevs (no controller found)", status);
  char type[KMT_STRING_SIZE], serial[KMT_STRING_SIZE];
  KMT_GetTypeAndSNbyIndex(0, type, serial, &status);
  check("KMT_GetTypeAndSNbyIndex", status);
  return std::string(type) + serial;
}

class Controller {
 public:
  explicit Controller(const std::string &serial) {
    std::int32_t status = 0;
    KMT_InitBySN(&handle_, serial.c_str(), &status);
    check("KMT_InitBySN", status);
  }
  Controller(Controller &&other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  Controller &operator=(Controller &&) = delete;
  Controller(const Controller &) = delete;
  Controller &operator=(const Controller &) = delete;
  ~Controller() {
    if (handle_ != 0) KMT_Close(&handle_, 0);
  }

  std::array<double, 4> analog_inputs() {
    std::array<double, 4> v{};
    std::int32_t status = 0;
    AI_SimpleRead(&handle_, &v[0], &v[1], &v[2], &v[3], &status);
    check("AI_SimpleRead", status);
    return v;
  }
  void write_analog(std::uint8_t output, double volts) {
    std::int32_t status = 0;
    AO_SimpleWrite(&handle_, output, volts, &status);
    check("AO_SimpleWrite", status);
  }

 private:
  std::uint32_t handle_ = 0;
};

}  // namespace kmt

int main() {
  try {
    kmt::Controller controller(kmt::first_controller());
    controller.write_analog(0, 2.5);
    const auto v = controller.analog_inputs();
    std::printf("inputs %.3f V %.3f V %.3f V %.3f V\n", v[0], v[1], v[2], v[3]);
    return 0;
  } catch (const kmt::Error &error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
