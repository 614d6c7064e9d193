// SPDX-License-Identifier: Apache-2.0
#include "settings/settings_store.h"

#include <sstream>

namespace quorvale {

std::vector<std::string> SettingsStore::ReadList(const char* section, const char* name) {
    std::istringstream lines(Read(section, name, ""));
    std::vector<std::string> texts;
    for (std::string line; std::getline(lines, line);) {
        texts.push_back(line);
    }
    return texts;
}

void SettingsStore::WriteList(const char* section, const char* name,
                              const std::vector<std::string>& texts) {
    std::string joined;
    for (const std::string& text : texts) {
        joined += text + "\n";
    }
    Write(section, name, joined);
}

}  // namespace quorvale
