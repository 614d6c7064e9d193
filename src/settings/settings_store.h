// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace quorvale {

// The per-user store of text values, addressed by section and value name under the
// application's own vendor key and name. An empty section names the application's own key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or `fallback` when the value is absent.
    virtual std::string Read(const char* section, const char* name, const char* fallback) = 0;
    virtual void Write(const char* section, const char* name, const std::string& text) = 0;

    // A list of texts; empty when absent. A store that keeps only texts keeps it as one, a
    // line for each.
    virtual std::vector<std::string> ReadList(const char* section, const char* name);
    virtual void WriteList(const char* section, const char* name,
                           const std::vector<std::string>& texts);
};

}  // namespace quorvale
