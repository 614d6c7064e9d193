#pragma once

#include <string>

namespace quorvale {

// The texts a failed download ends with, filled printf-style.
namespace DownloadMessages {
inline constexpr char FailedToGetHardwareCode[] = "Failed to get hardware code from port '%s'";
inline constexpr char FailedToOpenApplicationPort[] = "Failed to open application port '%s'";
inline constexpr char FailedToOpenPort[] = "Failed to open port '%s'";
inline constexpr char IncorrectHardwareCode[] = "Incorrect hardware code '%u' from port '%s'";
inline constexpr char FailedToSetVersionNumber[] = "Failed to set version number '%u' on port '%s'";
inline constexpr char FailedToSendDataBlock[] = "Failed to send data block at address %u";
}  // namespace DownloadMessages

// printf into a std::string, for the message formats above and their kin.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quorvale
