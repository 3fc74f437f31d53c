// Protocol traces: a provider that records every driver call of another provider into
// a text file, and one that serves such a file back in place of a controller.
//
// Trace format (one line per driver call, fields separated by single spaces):
//
//   # kmtv1 trace 1
//   TIME OP ARGUMENTS... = STATUS
//
// TIME is seconds since the trace began (six decimals); STATUS the driver's status code
// (0 success). OP and ARGUMENTS:
//   list-count N           number of devices listed
//   list INDEX SERIAL      the serial-number string listed at INDEX
//   open SERIAL            a device opened by serial-number string
//   close, reset           closing and resetting the open device
//   purge MASK             1 receive queue, 2 transmit queue, 3 both
//   baud RATE, data BITS STOP PARITY, flow FLOW XON XOFF, timeouts READ_MS WRITE_MS
//   > HEX...               bytes written, host to controller
//   < HEX...               bytes read, controller to host
// Reads that deliver nothing and succeed are not recorded (the exchange polls for its
// response). Lines starting with '#' are comments. Bytes are two lower-case hex digits.
//
// Replaying: listing answers with the serial strings of the trace's list and open
// lines; opening a listed serial succeeds as it did when recorded; link settings always
// succeed. A write that matches the next recorded "> " line at or after the replay's
// position queues the "< " lines up to the following "> " line for reading; a write that
// matches none gets no answer (the exchange then reports no response), and the first such
// write is reported once on standard error. So a recorded session replays to the same
// results as long as the requests are the same, in the same order. Lines may end in LF
// or CR LF. The file is read whole and indexed once, so replay takes time in proportion
// to the trace's length; it must be a regular file of at most kReplayMaxBytes.
//
// Recording writes and flushes line by line. A trace is only written to a regular file
// (or a new one). When a line cannot be written (a full disk), recording stops, the file
// is renamed FILE.incomplete and the reason is written to standard error; the
// controller is still driven. The command-line tool fails a command whose trace is
// missing afterwards.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "transport/driver.h"

namespace kmt {

// The largest trace replay reads: 16 MiB, some 400,000 lines or 200,000 exchanges.
inline constexpr std::size_t kReplayMaxBytes = std::size_t{16} << 20;

// Records every call of `inner` into the file at `path` (created or truncated). Null
// when the file cannot be written (*error says why).
std::unique_ptr<Driver> make_trace_driver(const std::string &path, std::unique_ptr<Driver> inner,
                                          std::string *error);

// Serves the trace at `path`. Null when it cannot be read or a line does not parse
// (*error names the line).
std::unique_ptr<Driver> make_replay_driver(const std::string &path, std::string *error);

// Splits "FILE:INNER" (the text after "trace:") at the first colon that does not
// belong to a drive letter ("C:\..."). No colon: all of it is FILE, INNER is "".
void split_trace_argument(const std::string &driver_text, std::string *file, std::string *inner);

}  // namespace kmt
