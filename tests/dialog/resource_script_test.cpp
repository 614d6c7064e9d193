// SPDX-License-Identifier: Apache-2.0
// The Win32 window's resource script and the template the Qt window lays out from must be
// the same dialog: same controls, ids, texts, positions, visibility and tab stops, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/dialog_template.h"

namespace quorvale {
namespace {

struct ScriptControl {
    std::string statement;
    std::vector<std::string> fields;  // the comma-separated rest, quotes kept

    bool Has(const std::string& style) const {
        for (const std::string& field : fields) {
            if (field.find(style) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

std::string Trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    const auto end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (c == ',' && !quoted) {
            fields.push_back(Trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(Trim(field));
    return fields;
}

std::string Unquoted(const std::string& text) {
    return text.size() >= 2 && text.front() == '"' ? text.substr(1, text.size() - 2) : text;
}

int IdOf(const std::string& text) {
    static const std::map<std::string, int> named = {
        {"IDC_STATIC", IdNone}, {"IDOK", IdOk}, {"IDCANCEL", IdCancel}};
    const auto found = named.find(text);
    return found != named.end() ? found->second : std::stoi(text);
}

// The dialog 102's header lines and its controls.
std::vector<ScriptControl> ReadDialog(std::vector<std::string>& header) {
    std::ifstream in(QUORVALE_RESOURCE_SCRIPT);
    std::vector<ScriptControl> controls;
    std::string line;
    bool inDialog = false;
    bool inControls = false;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.rfind("102 DIALOGEX", 0) == 0) {
            inDialog = true;
        }
        if (!inDialog) {
            continue;
        }
        if (line == "BEGIN") {
            inControls = true;
        } else if (line == "END") {
            break;
        } else if (!inControls) {
            header.push_back(line);
        } else {
            const auto space = line.find_first_of(" \t");
            controls.push_back({line.substr(0, space), SplitFields(line.substr(space + 1))});
        }
    }
    return controls;
}

TEST(ResourceScript, DialogTemplateIsTheOneTheQtWindowDraws) {
    std::vector<std::string> header;
    const std::vector<ScriptControl> controls = ReadDialog(header);
    ASSERT_EQ(controls.size(), DialogTemplate.size());
    EXPECT_EQ(header.at(0), "102 DIALOGEX 0, 0, " + std::to_string(DialogWidthUnits) + ", " +
                                std::to_string(DialogHeightUnits));
    EXPECT_NE(
        std::find(header.begin(), header.end(), std::string("CAPTION \"") + DialogCaption + "\""),
        header.end());
    EXPECT_NE(std::find(header.begin(), header.end(), "FONT 8, \"MS Sans Serif\""), header.end());

    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ScriptControl& c = controls[i];
        const TemplateControl& expected = DialogTemplate[i];
        SCOPED_TRACE(c.statement + " " + c.fields.at(0));
        // Statements with a text lead with it; EDITTEXT and COMBOBOX have none.
        const bool hasText = c.statement != "EDITTEXT" && c.statement != "COMBOBOX";
        const std::size_t idField = hasText ? 1 : 0;
        // CONTROL names its window class and style before the position.
        const std::size_t position = c.statement == "CONTROL" ? idField + 3 : idField + 1;
        EXPECT_EQ(hasText ? Unquoted(c.fields[0]) : std::string(), expected.text);
        EXPECT_EQ(IdOf(c.fields[idField]), expected.id);
        EXPECT_EQ(std::stoi(c.fields.at(position)), expected.x);
        EXPECT_EQ(std::stoi(c.fields.at(position + 1)), expected.y);
        EXPECT_EQ(std::stoi(c.fields.at(position + 2)), expected.width);
        EXPECT_EQ(std::stoi(c.fields.at(position + 3)), expected.height);
        EXPECT_EQ(c.Has("NOT WS_VISIBLE"), expected.hidden);
        EXPECT_EQ(c.Has("WS_TABSTOP") && !c.Has("NOT WS_TABSTOP"), expected.tabStop);
        EXPECT_EQ(c.Has("ES_CENTER"), expected.centred);

        static const std::map<ControlKind, std::vector<std::string>> statements = {
            {ControlKind::Label, {"LTEXT"}},
            {ControlKind::SunkenText, {"LTEXT"}},
            {ControlKind::ReadOnlyEdit, {"EDITTEXT"}},
            {ControlKind::PushButton, {"PUSHBUTTON", "DEFPUSHBUTTON"}},
            {ControlKind::DropDownList, {"COMBOBOX"}},
            {ControlKind::GroupBox, {"GROUPBOX"}},
            {ControlKind::ProgressBar, {"CONTROL"}},
        };
        const auto& allowed = statements.at(expected.kind);
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), c.statement), allowed.end());
        EXPECT_EQ(c.Has("SS_SUNKEN"), expected.kind == ControlKind::SunkenText);
        EXPECT_EQ(c.Has("ES_READONLY"), expected.kind == ControlKind::ReadOnlyEdit);
        EXPECT_EQ(c.Has("CBS_DROPDOWNLIST"), expected.kind == ControlKind::DropDownList);
        EXPECT_EQ(c.statement == "DEFPUSHBUTTON", expected.id == IdOk);  // Enter presses OK
    }
}

}  // namespace
}  // namespace quorvale
