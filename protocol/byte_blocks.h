// The whole-block byte work of an exchange and of the block decoders: the checksum
// over a frame, and a block of interleaved 16-bit words spread over separate arrays.
// Both work in wide steps where they can; their results are exactly those of the
// plain byte-by-byte loops (see the tests), on every target.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kmt {

// sum plus every byte of data[0 .. n-1], modulo 256.
std::uint8_t add_bytes(std::uint8_t sum, const std::uint8_t *data, std::size_t n);

// data holds `groups` groups of `count` little-endian 16-bit words; word k of group i
// goes to arrays[k][i], for k below count. Writes as the loop "for each group, for
// each word" does, also when arrays overlap one another.
void spread_words(const std::uint8_t *data, std::size_t groups, std::size_t count,
                  std::uint16_t *const *arrays);

}  // namespace kmt
