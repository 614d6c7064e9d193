// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvale {

// One request or one reply frame.
class ByteBuffer {
public:
    ByteBuffer() = default;
    ByteBuffer(std::initializer_list<std::uint8_t> bytes) : m_bytes(bytes) {}

    void Append(std::uint8_t byte) { m_bytes.push_back(byte); }
    void Append(const std::uint8_t* bytes, std::size_t count) {
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
    }
    void Clear() { m_bytes.clear(); }
    void Reserve(std::size_t count) { m_bytes.reserve(count); }
    std::size_t Length() const { return m_bytes.size(); }
    std::uint8_t operator[](std::size_t index) const { return m_bytes[index]; }
    const std::uint8_t* Data() const { return m_bytes.data(); }

    friend bool operator==(const ByteBuffer&, const ByteBuffer&) = default;

private:
    std::vector<std::uint8_t> m_bytes;
};

// XOR of `count` bytes: the frame checksum, and the checksum of a block's data.
inline std::uint8_t XorOf(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum ^= bytes[i];
    }
    return sum;
}

}  // namespace quorvale
