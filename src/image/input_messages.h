// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <string>

namespace quorvale {

// What `pack` says of its settings and its input as a whole, filled printf-style.
namespace PackMessages {
inline constexpr char BaudRange[] = "--baud must be 1 to 65535";
inline constexpr char HeaderRange[] = "--hardware and --version must be 0 to 255";
inline constexpr char StartNotPage[] = "--start must be a multiple of 256";
inline constexpr char Empty[] = "'%s' is empty";
inline constexpr char FirstLineNotRecord[] =
    "'%s' starts like Intel HEX or S-records but its first line is not one";
inline constexpr char RawNeedsStart[] = "raw binary input needs --start, and takes no --base";
inline constexpr char RawTooLarge[] = "'%s' is larger than %zu bytes";
// The reader's words after it, "Intel HEX input: ...".
inline constexpr char InputRefused[] = "%s input: %s";
// LayOutImage's words after it.
inline constexpr char ImageRefused[] = "'%s' (%s): %s";
inline constexpr char Beyond64KiB[] = "start %u plus %zu bytes of data lies beyond 64 KiB";
}  // namespace PackMessages

// What is said of a refused line of an Intel HEX or S-record file, after "NAME: LINE: ".
namespace RecordMessages {
inline constexpr char NotHex[] = "hexadecimal digit expected";
inline constexpr char OddDigits[] = "odd number of hexadecimal digits";
inline constexpr char TooShort[] = "record too short (%zu bytes, at least %zu)";
inline constexpr char CountMismatch[] = "byte count %02zX (%zu) where the line holds %zu";
inline constexpr char Checksum[] = "checksum mismatch (the record says %02X, its bytes make %02X)";
inline constexpr char UnknownType[] = "record type not recognised";
inline constexpr char FieldLength[] = "a type %02X record holds %zu bytes, this one %zu";
inline constexpr char SHasData[] = "an S%d record holds no data";
inline constexpr char DataCount[] = "data record count mismatch (file %zu, read %zu)";
inline constexpr char AfterEnd[] = "data after the end record on line %zu";
inline constexpr char TooMuchData[] = "more than %zu bytes of data, far beyond a 64 KiB image";
// Of the file as a whole, after "NAME: ".
inline constexpr char NotARecord[] = "line %zu is not a record";
inline constexpr char NoEnd[] = "no end-of-file record: the file may be cut short";
}  // namespace RecordMessages

// One of the messages above, filled in.
template <typename... Values>
std::string FillMessage(const char* format, Values... values) {
    const int length = std::snprintf(nullptr, 0, format, values...);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::snprintf(text.data(), text.size() + 1, format, values...);
    }
    return text;
}

}  // namespace quorvale
