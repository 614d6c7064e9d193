// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "settings/settings_store.h"

namespace quorvale {

// What the download dialog asks of the window that draws it: its controls, addressed by the
// template's ids, and the desktop's modal boxes. Texts are 8-bit, as the system's own are.
// Every call but Post comes on the dialog's own thread.
class DialogView {
public:
    virtual ~DialogView() = default;

    // A drop-down list: add an item at its end, how many it holds, an item's text, which is
    // selected (-1 for none), select one.
    virtual void AddItem(int id, const std::string& text) = 0;
    virtual int ItemCount(int id) const = 0;
    virtual std::string ItemText(int id, int index) const = 0;
    virtual int Selection(int id) const = 0;
    virtual void Select(int id, int index) = 0;

    virtual void SetText(int id, const std::string& text) = 0;
    // The text shown when the pointer rests on the control; empty for none.
    virtual void SetToolTip(int id, const std::string& text) = 0;
    virtual void SetEnabled(int id, bool enabled) = 0;
    virtual void SetVisible(int id, bool visible) = 0;
    // The progress bar's range, from 0 to `maximum`, and its position.
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgress(int position) = 0;
    virtual void SetWaitCursor(bool waiting) = 0;

    // A modal box with the text and an OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::string& text) = 0;
    // The open-file dialog for a firmware file: the chosen file's full path, or nothing when
    // the user cancelled.
    virtual std::optional<std::string> ChooseFirmwareFile() = 0;

    // Runs `change` on the dialog's thread, after every change posted before it. May be
    // called from any thread.
    virtual void Post(std::function<void()> change) = 0;
};

// Where the per-user settings live: vendor key and application name.
inline constexpr char kVendor[] = "Quorvale";
inline constexpr char kApplication[] = "Bootloader";

}  // namespace quorvale
