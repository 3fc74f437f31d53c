// The panel's request checks: which Host headers are served, and the token comparison.
#include <gtest/gtest.h>

#include "panel.h"

namespace {

struct HostCase {
  const char *host, *bind;
  int port;
  bool allowed;
};

TEST(PanelHostCheck, ServesOnlyThisMachinesNames) {
  const HostCase cases[] = {
      {"127.0.0.1:8080", "127.0.0.1", 8080, true},
      {"localhost:8080", "127.0.0.1", 8080, true},
      {"LOCALHOST:8080", "127.0.0.1", 8080, true},
      {"[::1]:8080", "127.0.0.1", 8080, true},
      {"127.0.0.1:8081", "127.0.0.1", 8080, false},  // another port
      {"127.0.0.1", "127.0.0.1", 8080, false},       // no port
      {"", "127.0.0.1", 8080, false},
      {":8080", "127.0.0.1", 8080, false},
      {"evil.example:8080", "127.0.0.1", 8080, false},  // DNS rebinding
      {"localhost.evil.example:8080", "127.0.0.1", 8080, false},
      {"192.168.1.5:8080", "127.0.0.1", 8080, false},  // not the bound address
      {"192.168.1.5:8080", "192.168.1.5", 8080, true},
      {"[fe80::1]:8080", "fe80::1", 8080, true},
      {"192.168.1.5:8080", "0.0.0.0", 8080, true},  // every address: any literal
      {"[fe80::1]:8080", "::", 8080, true},
      {"host.lan:8080", "0.0.0.0", 8080, false},  // but no name
      {"1.2.3:8080", "0.0.0.0", 8080, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(panel::host_allowed(c.host, c.bind, c.port), c.allowed)
        << "Host " << c.host << ", bound to " << c.bind;
  }
}

TEST(PanelHostCheck, TokenMustMatchWhole) {
  EXPECT_TRUE(panel::token_matches("0123abcd", "0123abcd"));
  EXPECT_FALSE(panel::token_matches("0123abce", "0123abcd"));
  EXPECT_FALSE(panel::token_matches("0123abc", "0123abcd"));
  EXPECT_FALSE(panel::token_matches("0123abcd0", "0123abcd"));
  EXPECT_FALSE(panel::token_matches("", ""));  // no token configured: nothing matches
}

}  // namespace
