// Maps the 32-bit device handles that hosts keep to the driver's own handles.
// A driver handle is a pointer, which does not fit 32 bits on a 64-bit platform, so
// the library hands out small non-zero tokens instead. On a 32-bit platform the token
// is the driver handle's own value, so hosts see exactly what the driver returned.
#pragma once

#include <cstdint>
#include <map>

#include "transport/d2xx.h"

namespace kmt {

class HandleTable {
 public:
  // The token for a driver handle just opened; an already known handle keeps its token.
  std::uint32_t add(d2xx::FT_HANDLE handle);
  // The driver handle of a token, or null for 0 and for tokens not (or no longer) known.
  d2xx::FT_HANDLE find(std::uint32_t token) const;
  // Forgets a token after its handle was closed.
  void remove(std::uint32_t token);

 private:
  std::map<std::uint32_t, d2xx::FT_HANDLE> handles_;
  std::uint32_t next_token_ = 1;
};

}  // namespace kmt
