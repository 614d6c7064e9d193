// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>

namespace quorvale {

// Control ids of the download dialog.
enum ControlId : int {
    IdNone = -1,
    IdOk = 1,
    IdCancel = 2,
    IdPortCombo = 1000,
    IdFileEdit = 1002,
    IdBrowseButton = 1003,
    IdProgressBar = 1005,
    IdStatusEdit = 1006,
    IdFileBaudValue = 1007,
    IdHardwareValue = 1009,
    IdStartValue = 1010,
    IdLengthValue = 1011,
    IdStopBitsCombo = 1012,
    IdParityCombo = 1013,
    IdDataBitsCombo = 1014,
    IdBaudCombo = 1015,
};

enum class ControlKind {
    Label,
    ReadOnlyEdit,
    PushButton,
    DropDownList,
    GroupBox,
    SunkenText,
    ProgressBar
};

// One control of the dialog template. Positions are in dialog units.
struct TemplateControl {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, width, height;
    bool hidden;
    bool tabStop;
    bool centred;
};

inline constexpr char DialogCaption[] = "Quorvale Bootloader v1.0";
inline constexpr int DialogWidthUnits = 352;
inline constexpr int DialogHeightUnits = 113;

using K = ControlKind;
// In template order, which is also the tab order.
inline constexpr std::array<TemplateControl, 26> DialogTemplate = {{
    {IdNone, K::Label, "Firmware file", 8, 8, 48, 12, false, false, false},
    {IdFileEdit, K::ReadOnlyEdit, "", 60, 8, 236, 12, false, true, false},
    {IdBrowseButton, K::PushButton, "Browse", 300, 8, 44, 12, false, true, false},
    {IdNone, K::Label, "Com port", 8, 60, 48, 12, false, false, false},
    {IdPortCombo, K::DropDownList, "", 60, 60, 284, 68, false, true, false},
    {IdNone, K::Label, "Baud rate", 8, 80, 36, 12, false, false, false},
    {IdBaudCombo, K::DropDownList, "", 48, 80, 44, 64, false, true, false},
    {IdNone, K::Label, "Data bits", 104, 80, 36, 12, false, false, false},
    {IdDataBitsCombo, K::DropDownList, "", 144, 80, 32, 64, false, true, false},
    {IdNone, K::Label, "Parity", 188, 80, 24, 12, false, false, false},
    {IdParityCombo, K::DropDownList, "", 216, 80, 44, 64, false, true, false},
    {IdNone, K::Label, "Stop bits", 272, 80, 36, 12, false, false, false},
    {IdStopBitsCombo, K::DropDownList, "", 312, 80, 32, 64, false, true, false},
    {IdNone, K::GroupBox, "File information", 8, 24, 336, 32, false, false, false},
    {IdNone, K::Label, "Baud rate", 24, 36, 32, 12, false, false, false},
    {IdFileBaudValue, K::SunkenText, "", 60, 36, 28, 12, false, false, false},
    {IdNone, K::Label, "Hardware", 112, 36, 36, 12, false, false, false},
    {IdHardwareValue, K::SunkenText, "", 148, 36, 20, 12, false, false, false},
    {IdNone, K::Label, "Start", 196, 36, 20, 12, false, false, false},
    {IdStartValue, K::SunkenText, "", 216, 36, 28, 12, false, false, false},
    {IdNone, K::Label, "Length", 272, 36, 24, 12, false, false, false},
    {IdLengthValue, K::SunkenText, "", 300, 36, 28, 12, false, false, false},
    {IdOk, K::PushButton, "OK", 124, 97, 44, 12, false, true, false},
    {IdCancel, K::PushButton, "Cancel", 180, 97, 44, 12, false, true, false},
    {IdProgressBar, K::ProgressBar, "Progress1", 8, 97, 336, 12, true, false, false},
    {IdStatusEdit, K::ReadOnlyEdit, "", 8, 97, 336, 12, true, false, true},
}};

}  // namespace quorvale
