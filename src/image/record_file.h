// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "files/error.h"
#include "image/image_input.h"

namespace quorvale {

// The data of an Intel HEX or S-record file (`bytes`, called `name` in what is said): one
// segment per run of records that continue one another, named by the line of its first.
// Lines end in LF or CRLF; blank lines are passed over. Refused, saying the file, the line and
// what is wrong, for a line that is not a record, a malformed record (a character that is not
// a hexadecimal digit, an odd number of digits, a byte count that does not match the line, a
// bad checksum, an unknown type or a field of the wrong length), an S-record count that
// does not match the data records before it, data after the end record, and an Intel HEX
// file without its end-of-file record: each of these would otherwise leave a hole in the
// image or put data where it does not belong.
Result<std::vector<Segment>> ReadRecordFile(std::span<const std::uint8_t> bytes,
                                            const std::string& name, InputFormat format);

}  // namespace quorvale
