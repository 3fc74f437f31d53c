#include "sim/controller.h"

namespace kmt::sim {

void install_i2c_spi(Controller &) {}

}  // namespace kmt::sim
