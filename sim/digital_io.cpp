#include "sim/controller.h"

namespace kmt::sim {

void install_digital_io(Controller &) {}

}  // namespace kmt::sim
