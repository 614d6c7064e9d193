// SPDX-License-Identifier: Apache-2.0
#include <QApplication>

#include "ui/download_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    quorvale::CDownloadApp app;
    app.InitInstance();
    return 0;
}
