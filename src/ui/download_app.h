// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

#include "dialog/dialog_view.h"

namespace quorvale {

// The application: names the settings store, takes the firmware file from the command line,
// and runs the download dialog until it closes.
class CDownloadApp {
public:
    // Answers false, so that the application ends when the dialog has closed.
    bool InitInstance();
};

}  // namespace quorvale
