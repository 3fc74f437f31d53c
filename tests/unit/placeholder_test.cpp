#include "tests/support/library_fixture.h"

namespace kmt::testing {
namespace {
class Smoke : public LibraryFixture {};
TEST_F(Smoke, Opens) {
  EXPECT_TRUE(lib->session.device_open());
}
}  // namespace
}  // namespace kmt::testing
