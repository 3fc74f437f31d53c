#include "sim/controller.h"

namespace kmt::sim {

void install_uart(Controller &) {}

}  // namespace kmt::sim
