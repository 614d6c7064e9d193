// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/port_handle.h"

namespace quorvale {

// The texts a failed download ends with, filled printf-style.
namespace DownloadMessages {
inline constexpr char FailedToGetHardwareCode[] = "Failed to get hardware code from port '%s'";
inline constexpr char FailedToOpenApplicationPort[] = "Failed to open application port '%s'";
inline constexpr char FailedToOpenPort[] = "Failed to open port '%s'";
inline constexpr char IncorrectHardwareCode[] = "Incorrect hardware code '%u' from port '%s'";
inline constexpr char FailedToSetVersionNumber[] = "Failed to set version number '%u' on port '%s'";
inline constexpr char FailedToSendDataBlock[] = "Failed to send data block at address %u";
// The finish frame could not be handed to the port (the controller went away after its last
// block): the bootloader never learnt that the download is complete.
inline constexpr char FailedToFinishDownload[] = "Failed to finish download on port '%s'";
// A download stopped by the technician or by a signal.
inline constexpr char DownloadCancelled[] = "Download cancelled";
}  // namespace DownloadMessages

// The line under a failure text that says why, where the download knows it itself.
namespace ReasonTexts {
inline constexpr char RateRefused[] = "The port cannot run at %u baud";
inline constexpr char NearestRate[] = " (nearest %u)";
inline constexpr char PortWentAway[] = "The port went away";
}  // namespace ReasonTexts

// How events and records name the ways a download ends, by FailureKind.
inline constexpr std::array<const char*, 10> FailureKindNames = {
    nullptr,  // completed
    "open_application_port",
    "open_bootloader_port",
    "no_hardware_code",
    "wrong_hardware_code",
    "version_refused",
    "block_refused",
    "finish_failed",
    "port_lost",
    "cancelled",
};

// What the status line shows for the download's phases.
namespace StatusTexts {
inline constexpr char InitiatingDownload[] = "Initiating download";
inline constexpr char DownloadCompleted[] = "Download completed (time taken %u:%02u)";
}  // namespace StatusTexts

// The message boxes of the download dialog, also said by the command line.
namespace DialogMessages {
inline constexpr char NoPortsAvailable[] =
    "No COM ports available on this computer - cannot download";
inline constexpr char SelectPort[] = "You must select a communication port";
inline constexpr char SelectValidFile[] = "You must select a valid file to download";
}  // namespace DialogMessages

// Why a firmware file was rejected, by LoadResult; the path stands on the second line.
namespace FileMessages {
inline constexpr std::array<const char*, 7> ByLoadResult = {
    nullptr,  // LoadOk
    "Failed to open file\n'%s'",
    "File size is incorrect\n'%s'",
    "File page error\n'%s'",
    "Failed to load data correctly from file\n'%s'",
    "File start and length exceed 64k\n'%s'",
    "File checksum is incorrect\n'%s'",
};
inline constexpr char Unexpected[] = "Unexpected problem reading file\n'%s'";
// Under the rejection, said by the command line and the station, for a file that `pack` can
// make a firmware file from.
inline constexpr char PackableFile[] =
    "%s is an %s file: make a firmware file from it with 'quorvale pack'";
}  // namespace FileMessages

// One item of a settings list: the text shown (and stored) and the value it stands for.
template <typename Code>
struct SettingItem {
    const char* text;
    Code code;
};

// The serial settings a technician picks from, in list order. A parity or stop-bits item's
// code equals its index, which is what the serial driver takes.
namespace SettingLists {
inline constexpr std::array<SettingItem<std::uint32_t>, 15> BaudRates = {{
    {"110", 110},
    {"300", 300},
    {"600", 600},
    {"1200", 1200},
    {"2400", 2400},
    {"4800", 4800},
    {"9600", 9600},
    {"14400", 14400},
    {"19200", 19200},
    {"38400", 38400},
    {"56000", 56000},
    {"57600", 57600},
    {"115200", 115200},
    {"128000", 128000},
    {"256000", 256000},
}};
inline constexpr std::array<SettingItem<std::uint8_t>, 3> DataBits = {
    {{"6", 6}, {"7", 7}, {"8", 8}}};
inline constexpr std::array<SettingItem<Parity>, 5> Parities = {{
    {"None", Parity::None},
    {"Odd", Parity::Odd},
    {"Even", Parity::Even},
    {"Mark", Parity::Mark},
    {"Space", Parity::Space},
}};
inline constexpr std::array<SettingItem<StopBits>, 3> StopBitsChoices = {{
    {"1", StopBits::One},
    {"1.5", StopBits::OnePointFive},
    {"2", StopBits::Two},
}};
}  // namespace SettingLists

// The text of the item that stands for `code`; the first item's when none does.
template <typename Code, std::size_t N>
const char* ItemText(const std::array<SettingItem<Code>, N>& items, Code code) {
    for (const auto& item : items) {
        if (item.code == code) {
            return item.text;
        }
    }
    return items[0].text;
}

// printf into a std::string, for the message formats above.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Download completed (time taken M:SS)" for an elapsed time in milliseconds.
std::string CompletedText(std::uint32_t elapsedMs);
// "M:SS", the way the completion message counts time.
std::string ElapsedText(std::uint32_t elapsedMs);

// The rejection message for a load result other than LoadOk.
std::string LoadResultMessage(int result, const std::string& path);
// The same, and under it what to do when the file is one that `pack` reads.
std::string LoadResultMessageWithHint(int result, const std::string& path);

}  // namespace quorvale
