// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace quorvale {

// The per-user store of text values, addressed by section and value name under the
// application's own vendor key and name.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or `fallback` when the value is absent.
    virtual std::string Read(const char* section, const char* name, const char* fallback) = 0;
    virtual void Write(const char* section, const char* name, const std::string& text) = 0;
};

}  // namespace quorvale
