// SPDX-License-Identifier: Apache-2.0
// quorvale-bootloader.exe: the application object's start-up, as the Windows dialog framework
// would run it.
#include <windows.h>
// The common controls need windows.h first.
#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dialog/download_dialog_core.h"
#include "ui/download_dlg_win32.h"

namespace quorvale {

class CDownloadApp {
public:
    // Answers false, so that the application ends when the dialog has closed.
    bool InitInstance(HINSTANCE instance) {
        // The progress bar's and the tips' classes, and the visual styles the manifest asks for.
        INITCOMMONCONTROLSEX controls{sizeof controls,
                                      ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        const std::vector<std::string> arguments(__argv, __argv + __argc);
        // The dialog holds the 64 KiB image buffer: too large for the stack to be a good home.
        const auto dialog =
            std::make_unique<CDownloadDlg>(instance, FirmwareFileFromArguments(arguments));
        dialog->DoModal();
        return false;
    }
};

}  // namespace quorvale

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    quorvale::CDownloadApp app;
    app.InitInstance(instance);
    return 0;
}
