#include "sim/controller.h"

namespace kmt::sim {

void install_system(Controller &) {}

}  // namespace kmt::sim
