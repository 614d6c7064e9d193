// SPDX-License-Identifier: Apache-2.0
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace quorvale::test {

TempDir::TempDir() {
    // create_directory answers false for a name that is taken, so the first free one is ours.
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        const auto candidate =
            std::filesystem::temp_directory_path() / ("quorvale-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all);
            m_path = candidate.string();
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Write(const std::string& name, std::span<const std::uint8_t> bytes) const {
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

}  // namespace quorvale::test
