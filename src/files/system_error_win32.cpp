// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include "files/error.h"
#include "files/system_error.h"

namespace quorvale {

std::string SystemErrorText(long code) {
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message.empty() ? "Windows error " + std::to_string(code) : message;
}

ErrorKind KindOfSystemCode(long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ErrorKind::NotFound;
        case ERROR_ACCESS_DENIED:
            return ErrorKind::AccessDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return ErrorKind::Busy;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
            return ErrorKind::Gone;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return ErrorKind::AlreadyExists;
        default:
            return ErrorKind::Other;
    }
}

}  // namespace quorvale
