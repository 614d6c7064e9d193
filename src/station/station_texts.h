// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <initializer_list>
#include <string>

// What the station window says: a tile's states, in the words a technician reads at arm's
// length, and the lines around them.
namespace quorvale::StationTexts {

inline constexpr char Title[] = "Quorvale Station";

inline constexpr char NotStarted[] = "Not started";
inline constexpr char WaitingForController[] = "Waiting for a controller";
inline constexpr char Downloading[] = "Downloading";
inline constexpr char Passed[] = "Passed";
inline constexpr char Failed[] = "Failed";
inline constexpr char Cancelled[] = "Cancelled";
inline constexpr char Stopped[] = "Stopped";

inline constexpr char UnplugHint[] = "Unplug the controller";
inline constexpr char LastOutcome[] = "Last: %1";
inline constexpr char Bytes[] = "%1 of %2 bytes";
inline constexpr char Counts[] = "Passed %1   Failed %2";
inline constexpr char NotRecorded[] = "Not recorded: %1";

inline constexpr char FileLine[] =
    "Hardware code %1   Version %2   Start 0x%3   Length %4 bytes   Bootloader %5 baud   "
    "SHA-256 %6";
inline constexpr char LineSettingsLine[] =
    "Application line: %1 baud, %2 data bits, parity %3, "
    "%4 stop bits";
inline constexpr char Totals[] = "Total: passed %1, failed %2";
inline constexpr char RecordTo[] = "Record: %1";
inline constexpr char RecordWaiting[] = "Record: %1   (%2 waiting to be sent)";
inline constexpr char RecordRefused[] = "Record: %1   (%2 waiting to be sent: %3)";
inline constexpr char NoRecord[] = "Record: none (start with --record FILE to keep one)";
inline constexpr char NothingFlashed[] = "Nothing is flashed: %1";
inline constexpr char JobLine[] = "Job: %1   Signed by %2";
inline constexpr char LockedJobLine[] = "Job: %1   Signed by %2   Locked";

// The text with %1, %2 ... %9 replaced by the values in order; other text, and a number with
// no value, stays as it is.
std::string Fill(const char* text, std::initializer_list<std::string> values);

}  // namespace quorvale::StationTexts
