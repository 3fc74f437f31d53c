#include "sim/controller.h"

namespace kmt::sim {

void install_block_acquisition(Controller &) {}

}  // namespace kmt::sim
