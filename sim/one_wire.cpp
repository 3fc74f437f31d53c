#include "sim/controller.h"

namespace kmt::sim {

void install_one_wire(Controller &) {}

}  // namespace kmt::sim
