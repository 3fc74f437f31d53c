#include "sim/controller.h"

namespace kmt::sim {

void install_analog_io(Controller &) {}

}  // namespace kmt::sim
