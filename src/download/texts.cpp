// SPDX-License-Identifier: Apache-2.0
#include "download/texts.h"

#include <cstdarg>
#include <cstdio>

#include "image/image_input.h"

namespace quorvale {

// The dialog hands a list's selected index to the driver as the code.
template <typename Items>
constexpr bool CodesAreIndices(const Items& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (static_cast<std::size_t>(items[i].code) != i) {
            return false;
        }
    }
    return true;
}
static_assert(CodesAreIndices(SettingLists::Parities));
static_assert(CodesAreIndices(SettingLists::StopBitsChoices));

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

namespace {

// Whole minutes, and the whole seconds past them; minutes are not carried into hours.
struct MinutesAndSeconds {
    unsigned minutes;
    unsigned seconds;
};
MinutesAndSeconds Split(std::uint32_t elapsedMs) {
    return {elapsedMs / 60000u, (elapsedMs / 1000u) % 60u};
}

}  // namespace

std::string CompletedText(std::uint32_t elapsedMs) {
    const auto [minutes, seconds] = Split(elapsedMs);
    return FormatText(StatusTexts::DownloadCompleted, minutes, seconds);
}

std::string ElapsedText(std::uint32_t elapsedMs) {
    const auto [minutes, seconds] = Split(elapsedMs);
    return FormatText("%u:%02u", minutes, seconds);
}

std::string LoadResultMessage(int result, const std::string& path) {
    const bool known = result > 0 && result < static_cast<int>(FileMessages::ByLoadResult.size());
    const char* format = known ? FileMessages::ByLoadResult[result] : FileMessages::Unexpected;
    return FormatText(format, path.c_str());
}

std::string LoadResultMessageWithHint(int result, const std::string& path) {
    std::string message = LoadResultMessage(result, path);
    if (const auto format = RecogniseFileFormat(path)) {
        message += '\n';
        message += FormatText(FileMessages::PackableFile, path.c_str(), InputFormatName(*format));
    }
    return message;
}

}  // namespace quorvale
