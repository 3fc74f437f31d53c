#include "sim/controller.h"

namespace kmt::sim {

void install_generator_counter_expansion(Controller &) {}

}  // namespace kmt::sim
