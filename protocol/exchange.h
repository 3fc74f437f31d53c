// What a device function sees of the library: the request payload it writes, one
// exchange with the controller, and the response it decodes. The library's instance
// (library/instance.h) implements it; device/ needs nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kmt {

// Values of an exchange status.
enum : std::int32_t {
  kStatusOk = 0,
  kStatusNotOpen = 1,      // device not open, or the driver failed the request write
  kStatusBadResponse = 2,  // no, short, refused or corrupt response
  kStatusUnknownType = 3,  // discovery: unrecognised device type name
  kStatusOutOfRange = 4,   // an argument the controller cannot take; nothing was sent
};

class Exchange {
 public:
  // The payload buffer's size: the largest request, and the largest response with its
  // checksum byte.
  static constexpr std::size_t kPayloadSize = 16385;

  // Request payload length on the way in, response payload length on the way out.
  std::uint16_t payload_length = 0;

  // The request payload. A device function writes every byte of its request,
  // payload()[0 .. payload_length-1], before each exchange: what the buffer held
  // before is never sent (the exports fuzz target checks this).
  virtual std::uint8_t *payload() = 0;

  // The response payload after an exchange, followed by its checksum byte and then
  // whatever earlier responses left: the bytes device functions decode.
  virtual const std::uint8_t *response() const = 0;

  // One exchange: the request is payload()[0 .. payload_length-1]; *status receives the
  // exchange status (kStatus* above) and *handle the handle as it stands.
  virtual void exchange(std::uint32_t *handle, std::uint8_t group, std::uint8_t command,
                        std::int32_t response_delay_ms, std::int32_t *status) = 0;

 protected:
  ~Exchange() = default;
};

}  // namespace kmt
