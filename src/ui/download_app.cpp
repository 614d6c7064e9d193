// SPDX-License-Identifier: Apache-2.0
#include "ui/download_app.h"

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "dialog/download_dialog_core.h"
#include "ui/download_dlg.h"

namespace quorvale {

bool CDownloadApp::InitInstance() {
    QCoreApplication::setOrganizationName(kVendor);
    QCoreApplication::setApplicationName(kApplication);
    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments()) {
        arguments.push_back(argument.toLocal8Bit().toStdString());
    }
    const QString fileName = QString::fromLocal8Bit(FirmwareFileFromArguments(arguments));
    // The dialog holds the 64 KiB image buffer: too large for the stack to be a good home.
    const auto dialog = std::make_unique<CDownloadDlg>(fileName);
    dialog->DoModal();
    return false;
}

}  // namespace quorvale
