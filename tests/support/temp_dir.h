// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quorvale::test {

// A private folder under /tmp, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // Writes `bytes` to a file in the folder and answers its path.
    std::string Write(const std::string& name, std::span<const std::uint8_t> bytes) const;

private:
    std::string m_path;
};

}  // namespace quorvale::test
