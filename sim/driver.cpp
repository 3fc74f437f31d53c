#include "sim/sim.h"

namespace kmt::sim {

std::unique_ptr<Driver> make_driver(const std::string &, std::string *error) {
  if (error != nullptr) *error = "the simulated controller is not built yet";
  return nullptr;
}

}  // namespace kmt::sim
