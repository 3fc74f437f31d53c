#include "transport/handle_table.h"

namespace kmt {

std::uint32_t HandleTable::add(d2xx::FT_HANDLE handle) {
  for (const auto &[token, known] : handles_) {
    if (known == handle) return token;
  }
  std::uint32_t token = 0;
  if constexpr (sizeof(handle) <= sizeof(std::uint32_t)) {
    token = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
  }
  // Tokens of our own: the next unused non-zero value, wrapping around after 2^32 - 1.
  while (token == 0 || handles_.count(token) != 0) token = next_token_++;
  handles_[token] = handle;
  return token;
}

d2xx::FT_HANDLE HandleTable::find(std::uint32_t token) const {
  auto it = handles_.find(token);
  return it == handles_.end() ? nullptr : it->second;
}

void HandleTable::remove(std::uint32_t token) {
  handles_.erase(token);
}

}  // namespace kmt
