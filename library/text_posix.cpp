#include <algorithm>
#include <cstring>

#include "library/text.h"

namespace kmt::abi {

std::string text_in(kmt_text_in text) {
  return text != nullptr ? std::string(text) : std::string();
}

void text_out(const std::string &text, kmt_text_out out) {
  std::size_t length = std::min<std::size_t>(text.size(), KMT_STRING_SIZE - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
}

}  // namespace kmt::abi
