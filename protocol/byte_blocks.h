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

// The two implementations behind the functions above. `portable` builds for every
// target; `wide` uses 64-byte vectors and is taken, once the processor has been asked
// at run time, only where it has them (x86 with AVX-512 BW and VBMI, built by GCC or
// Clang). The functions above pick the widest available; the tests run each.
enum class ByteKernel { portable, wide };
bool byte_kernel_available(ByteKernel kernel);
std::uint8_t add_bytes_with(ByteKernel kernel, std::uint8_t sum, const std::uint8_t *data,
                            std::size_t n);
void spread_words_with(ByteKernel kernel, const std::uint8_t *data, std::size_t groups,
                       std::size_t count, std::uint16_t *const *arrays);

}  // namespace kmt
