// SPDX-License-Identifier: Apache-2.0
#include "ui/registry_store_win32.h"

#include <windows.h>

#include <algorithm>

#include "dialog/dialog_view.h"

namespace quorvale {
namespace {

// One open registry key, closed when it goes.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (m_key) {
            RegCloseKey(m_key);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

}  // namespace

std::string RegistryStore::Key(const char* section) const {
    std::string key = std::string("Software\\") + kVendor + "\\" + m_application;
    return *section ? key + "\\" + section : key;
}

std::vector<char> RegistryStore::Value(const char* section, const char* name,
                                       std::initializer_list<unsigned long> types) const {
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, Key(section).c_str(), 0, KEY_QUERY_VALUE, key.Out()) !=
        ERROR_SUCCESS) {
        return {};
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        std::find(types.begin(), types.end(), type) == types.end()) {
        return {};
    }
    // Room for the ending a value stored without one would lack.
    std::vector<char> bytes(size + 2, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                         &size) != ERROR_SUCCESS) {
        return {};
    }
    return bytes;
}

void RegistryStore::SetValue(const char* section, const char* name, unsigned long type,
                             const std::string& bytes) {
    RegistryKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, Key(section).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, key.Out(), nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    }
}

std::string RegistryStore::Read(const char* section, const char* name, const char* fallback) {
    // A value of another type reads as absent, as a profile string of another type does.
    const std::vector<char> bytes = Value(section, name, {REG_SZ, REG_EXPAND_SZ});
    return bytes.empty() ? fallback : bytes.data();
}

void RegistryStore::Write(const char* section, const char* name, const std::string& text) {
    SetValue(section, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

std::vector<std::string> RegistryStore::ReadList(const char* section, const char* name) {
    const std::vector<char> bytes = Value(section, name, {REG_MULTI_SZ});
    std::vector<std::string> texts;
    for (const char* text = bytes.data(); !bytes.empty() && *text;
         text += texts.back().size() + 1) {
        texts.emplace_back(text);
    }
    return texts;
}

void RegistryStore::WriteList(const char* section, const char* name,
                              const std::vector<std::string>& texts) {
    std::string bytes;
    for (const std::string& text : texts) {
        bytes.append(text.c_str(), text.size() + 1);
    }
    bytes.push_back('\0');
    SetValue(section, name, REG_MULTI_SZ, bytes);
}

}  // namespace quorvale
