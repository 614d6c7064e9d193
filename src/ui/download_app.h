#pragma once

#include <QString>
#include <QStringList>

namespace quorvale {

// Where the per-user settings live: vendor key and application name.
inline constexpr char kVendor[] = "Quorvale";
inline constexpr char kApplication[] = "Bootloader";

// The application: names the settings store, takes the firmware file from the command line,
// and runs the download dialog until it closes.
class CDownloadApp {
public:
    // Answers false, so that the application ends when the dialog has closed.
    bool InitInstance();
};

// The first argument after the program's name that is not an option, or empty.
QString FirmwareFileFromArguments(const QStringList& arguments);

}  // namespace quorvale
