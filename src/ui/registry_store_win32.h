// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace quorvale {

// The per-user settings where the Windows dialog framework keeps profile strings:
// HKEY_CURRENT_USER\Software\Quorvale\<application>\<section>, every value REG_SZ text, and a
// list as REG_MULTI_SZ.
class RegistryStore final : public SettingsStore {
public:
    explicit RegistryStore(std::string application) : m_application(std::move(application)) {}

    std::string Read(const char* section, const char* name, const char* fallback) override;
    void Write(const char* section, const char* name, const std::string& text) override;
    std::vector<std::string> ReadList(const char* section, const char* name) override;
    void WriteList(const char* section, const char* name,
                   const std::vector<std::string>& texts) override;

private:
    std::string Key(const char* section) const;
    // The value's bytes when it is of one of `types`.
    std::vector<char> Value(const char* section, const char* name,
                            std::initializer_list<unsigned long> types) const;
    void SetValue(const char* section, const char* name, unsigned long type,
                  const std::string& bytes);

    std::string m_application;
};

}  // namespace quorvale
