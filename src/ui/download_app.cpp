#include "ui/download_app.h"

#include <QApplication>
#include <memory>

#include "ui/download_dlg.h"

namespace quorvale {

QString FirmwareFileFromArguments(const QStringList& arguments) {
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (optionsEnded || !argument.startsWith('-')) {
            return argument;
        }
    }
    return {};
}

bool CDownloadApp::InitInstance() {
    QCoreApplication::setOrganizationName(kVendor);
    QCoreApplication::setApplicationName(kApplication);
    const QString fileName = FirmwareFileFromArguments(QCoreApplication::arguments());
    // The dialog holds the 64 KiB image buffer: too large for the stack to be a good home.
    const auto dialog = std::make_unique<CDownloadDlg>(fileName);
    dialog->DoModal();
    return false;
}

}  // namespace quorvale
