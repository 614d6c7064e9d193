// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "dialog/dialog_view.h"
#include "dialog/download_dialog_core.h"
#include "dialog/posted_changes.h"
#include "ui/registry_store_win32.h"

namespace quorvale {

// The download dialog as a native Win32 dialog on template 102, with every decision left to
// the dialog's core.
class CDownloadDlg final : private DialogView {
public:
    CDownloadDlg(HINSTANCE instance, std::string fileName);
    ~CDownloadDlg() override;
    CDownloadDlg(const CDownloadDlg&) = delete;
    CDownloadDlg& operator=(const CDownloadDlg&) = delete;

    // Runs the dialog modally; answers its result (0 when there was no port to offer).
    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int notification);
    void KeepFocusInTheDialog();

    void AddItem(int id, const std::string& text) override;
    int ItemCount(int id) const override;
    std::string ItemText(int id, int index) const override;
    int Selection(int id) const override;
    void Select(int id, int index) override;
    void SetText(int id, const std::string& text) override;
    void SetToolTip(int id, const std::string& text) override;
    void SetEnabled(int id, bool enabled) override;
    void SetVisible(int id, bool visible) override;
    void SetProgressRange(int maximum) override;
    void SetProgress(int position) override;
    void SetWaitCursor(bool waiting) override;
    void ShowMessage(const std::string& text) override;
    std::optional<std::string> ChooseFirmwareFile() override;
    void Post(std::function<void()> change) override;

    const HINSTANCE m_instance;
    HWND m_window = nullptr;
    HICON m_hIcon = nullptr;
    HCURSOR m_cursorBeforeWait = nullptr;
    // Made with the first tip; the dialog, its owner, destroys it.
    HWND m_toolTips = nullptr;
    RegistryStore m_store{kApplication};
    // The worker's changes wait here for the dialog's thread, which a private message wakes.
    PostedChanges m_posted;
    // Last, so that it stops the worker before the rest goes.
    DownloadDialogCore m_core;
};

}  // namespace quorvale
