// The driver provider over the network: controllers on other machines, each behind a
// serial-to-network server speaking telnet with the COM-port control option (RFC 2217),
// such as ser2net. Plain TCP, no encryption or authentication (docs/remote.md).
//
// The targets, the text after "rfc2217:" in KMT_DRIVER: HOST:PORT[=SERIAL], several
// joined with '+', one controller per port. HOST is a name, an IPv4 address or an IPv6
// address in brackets ([::1]:2000). SERIAL is the controller's serial-number string;
// without it the server's answer to the signature request stands for it.
//
// What each operation does:
//   ListDevices  one entry per target; the serial string is the given one, else the
//                signature the server answers (asked on a short connection of its own),
//                else the entry cannot be listed: by index it answers FT_DEVICE_NOT_FOUND,
//                and why goes to standard error once;
//   OpenEx       connects (bounded time-out) and negotiates binary transmission both ways
//                and the COM-port option; a target already open here, a refused second
//                client or a refused option is FT_DEVICE_NOT_OPENED, nothing listening
//                FT_DEVICE_NOT_FOUND;
//   SetBaudRate, SetDataCharacteristics, SetFlowControl  COM-port commands; the call
//                waits for the server's answer and checks it: a server that sets another
//                rate answers FT_INVALID_BAUD_RATE, another setting FT_OTHER_ERROR;
//   Purge        drops the bytes received and not yet read, and asks the server to purge
//                its queues (the request goes out with the next write or read);
//                ResetDevice purges both;
//   SetTimeouts  read and write time-outs; 0 waits without limit, as the bridge's driver;
//   Read, Write  return when all bytes moved or the time-out passed, never earlier;
//                telnet commands are taken out of the stream wherever they fall.
// A connection that ends or fails makes the call fail with FT_IO_ERROR at once, and
// every later call on that handle but Close. Calls must not overlap (the library's lock
// serialises them).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/driver.h"

namespace kmt {

// Null with *error set when the targets cannot be understood.
std::unique_ptr<Driver> make_rfc2217_driver(const std::string &targets, std::string *error);

// The diagnosis of each target for `kmtv1 doctor`: reachable, options negotiated,
// signature, the link settings accepted; one line per finding, problems as lines that
// begin with "fix: ". *ok is set when every target answered as a controller's should.
std::vector<std::string> probe_rfc2217(const std::string &targets, bool *ok);

}  // namespace kmt
