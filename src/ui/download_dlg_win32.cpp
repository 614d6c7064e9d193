// SPDX-License-Identifier: Apache-2.0
// The download dialog on Windows: template 102 from the resource script, the combo-box and
// progress-bar messages, the common open-file dialog, message boxes and the registry.
#include "ui/download_dlg_win32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "dialog/dialog_template.h"
#include "ports/discovery.h"

namespace quorvale {
namespace {

constexpr int kDialogTemplate = 102;
constexpr int kIcon = 128;
// Wakes the dialog's thread for the changes the worker posted.
constexpr UINT kPostedChanges = WM_APP + 1;
constexpr char kMessageCaption[] = "Quorvale Bootloader";
constexpr char kFileFilter[] = "Quorvale file (*.qvx)\0*.qvx\0All Files (*.*)\0*.*\0";
constexpr char kDefaultExtension[] = "bin";
constexpr DWORD kPathRoom = 32768;

}  // namespace

CDownloadDlg::CDownloadDlg(HINSTANCE instance, std::string fileName)
    : m_instance(instance),
      m_hIcon(LoadIconA(instance, MAKEINTRESOURCEA(kIcon))),
      m_core(
          *this, m_store, [] { return DiscoverSerialPorts(); }, std::move(fileName)) {}

CDownloadDlg::~CDownloadDlg() {
    m_core.OnCancel();
}

INT_PTR CDownloadDlg::DoModal() {
    return DialogBoxParamA(m_instance, MAKEINTRESOURCEA(kDialogTemplate), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDownloadDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        auto* dialog = reinterpret_cast<CDownloadDlg*>(lParam);
        dialog->m_window = window;
    }
    auto* dialog = reinterpret_cast<CDownloadDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CDownloadDlg::Handle(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case kPostedChanges:
            m_posted.RunAll();
            return TRUE;
        default:
            return FALSE;
    }
}

void CDownloadDlg::OnInitDialog() {
    SendMessageA(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    if (!m_core.OnInitDialog()) {
        EndDialog(m_window, 0);
    }
}

void CDownloadDlg::OnCommand(int id, int notification) {
    switch (id) {
        case IDOK:  // the OK button, or Enter
            m_core.OnOK();
            break;
        case IDCANCEL:  // the Cancel button, Escape or the close box
            m_core.OnCancel();
            EndDialog(m_window, IDCANCEL);
            break;
        case IdBrowseButton:
            if (notification == BN_CLICKED) {
                m_core.OnBrowse();
            }
            break;
        default:
            break;
    }
}

void CDownloadDlg::Post(std::function<void()> change) {
    m_posted.Add(std::move(change));
    // Should the thread's queue be full, the change waits for the next wake-up.
    PostMessageA(m_window, kPostedChanges, 0, 0);
}

void CDownloadDlg::AddItem(int id, const std::string& text) {
    SendDlgItemMessageA(m_window, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int CDownloadDlg::ItemCount(int id) const {
    return static_cast<int>(SendDlgItemMessageA(m_window, id, CB_GETCOUNT, 0, 0));
}

std::string CDownloadDlg::ItemText(int id, int index) const {
    const LRESULT length = SendDlgItemMessageA(m_window, id, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) {
        return {};
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    SendDlgItemMessageA(m_window, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

int CDownloadDlg::Selection(int id) const {
    return static_cast<int>(SendDlgItemMessageA(m_window, id, CB_GETCURSEL, 0, 0));
}

void CDownloadDlg::Select(int id, int index) {
    SendDlgItemMessageA(m_window, id, CB_SETCURSEL, index, 0);
}

void CDownloadDlg::SetText(int id, const std::string& text) {
    SetDlgItemTextA(m_window, id, text.c_str());
}

void CDownloadDlg::SetToolTip(int id, const std::string& text) {
    if (!m_toolTips) {
        m_toolTips = CreateWindowExA(
            0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, m_instance, nullptr);
        // A reason can be long: wrap it rather than run it off the screen.
        SendMessageA(m_toolTips, TTM_SETMAXTIPWIDTH, 0, 480);
    }
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(m_window, id));
    SendMessageA(m_toolTips, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    if (!text.empty()) {
        tool.lpszText = const_cast<char*>(text.c_str());
        SendMessageA(m_toolTips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void CDownloadDlg::SetEnabled(int id, bool enabled) {
    EnableWindow(GetDlgItem(m_window, id), enabled ? TRUE : FALSE);
    KeepFocusInTheDialog();
}

void CDownloadDlg::SetVisible(int id, bool visible) {
    ShowWindow(GetDlgItem(m_window, id), visible ? SW_SHOW : SW_HIDE);
    KeepFocusInTheDialog();
}

void CDownloadDlg::KeepFocusInTheDialog() {
    // A control disabled or hidden with the focus takes the keyboard with it, and Escape would
    // no longer reach the dialog: the focus goes on to a control that can use it, or to the
    // status box, which stays while a download runs. A dialog in the background is left alone.
    if (GetActiveWindow() != m_window) {
        return;
    }
    const HWND focus = GetFocus();
    if (focus && IsWindowVisible(focus) && IsWindowEnabled(focus)) {
        return;
    }
    HWND next = GetNextDlgTabItem(m_window, nullptr, FALSE);
    if (!next || !IsWindowVisible(next) || !IsWindowEnabled(next)) {
        next = GetDlgItem(m_window, IdStatusEdit);
    }
    SetFocus(IsWindowVisible(next) ? next : m_window);
}

void CDownloadDlg::SetProgressRange(int maximum) {
    SendDlgItemMessageA(m_window, IdProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
}

void CDownloadDlg::SetProgress(int position) {
    SendDlgItemMessageA(m_window, IdProgressBar, PBM_SETPOS, position, 0);
}

void CDownloadDlg::SetWaitCursor(bool waiting) {
    if (waiting) {
        m_cursorBeforeWait = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    } else {
        SetCursor(m_cursorBeforeWait);
    }
}

void CDownloadDlg::ShowMessage(const std::string& text) {
    MessageBoxA(m_window, text.c_str(), kMessageCaption, MB_OK);
}

std::optional<std::string> CDownloadDlg::ChooseFirmwareFile() {
    std::vector<char> path(kPathRoom, '\0');
    OPENFILENAMEA choice{};
    choice.lStructSize = sizeof choice;
    choice.hwndOwner = m_window;
    choice.lpstrFilter = kFileFilter;
    choice.nFilterIndex = 1;
    choice.lpstrFile = path.data();
    choice.nMaxFile = kPathRoom;
    choice.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    choice.lpstrDefExt = kDefaultExtension;
    if (!GetOpenFileNameA(&choice)) {
        return std::nullopt;
    }
    return std::string(path.data());
}

}  // namespace quorvale
