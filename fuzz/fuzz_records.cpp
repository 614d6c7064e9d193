// SPDX-License-Identifier: Apache-2.0
// Record file bytes in (S-records when they start with 'S', else Intel HEX): the reader answers
// segments or a refusal that names the file, never more data than the digits spell, and the
// segments it answers, written out again as S3 records, read back the same.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/record_file.h"

namespace {

using quorvale::Segment;

std::string S3Record(std::uint64_t address, const std::uint8_t* data, std::size_t size) {
    char digits[3];
    std::string line = "S3";
    unsigned sum = 0;
    const auto put = [&](unsigned byte) {
        std::snprintf(digits, sizeof digits, "%02X", byte & 0xFF);
        line += digits;
        sum += byte & 0xFF;
    };
    put(static_cast<unsigned>(size + 5));
    for (int shift = 24; shift >= 0; shift -= 8) {
        put(static_cast<unsigned>(address >> shift));
    }
    for (std::size_t i = 0; i < size; ++i) {
        put(data[i]);
    }
    put(~sum);
    return line + "\n";
}

// The segments as S3 records of up to 32 bytes; nothing when an address needs more than 32 bits.
bool WriteS3(const std::vector<Segment>& segments, std::string& text) {
    for (const Segment& segment : segments) {
        if (segment.address + segment.bytes.size() > (std::uint64_t{1} << 32)) {
            return false;
        }
        for (std::size_t at = 0; at < segment.bytes.size(); at += 32) {
            const std::size_t size = std::min<std::size_t>(32, segment.bytes.size() - at);
            text += S3Record(segment.address + at, segment.bytes.data() + at, size);
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvale;
    const InputFormat format =
        size > 0 && data[0] == 'S' ? InputFormat::SRecord : InputFormat::IntelHex;
    const auto segments = ReadRecordFile({data, size}, "fuzz", format);
    if (!segments) {
        if (segments.error().Kind() != ErrorKind::Malformed ||
            !segments.error().Words().starts_with("fuzz: ")) {
            std::abort();
        }
        return 0;
    }
    std::size_t total = 0;
    for (const Segment& segment : *segments) {
        if (segment.bytes.empty() || !segment.where.starts_with("line ")) {
            std::abort();
        }
        total += segment.bytes.size();
    }
    if (total > size / 2) {
        std::abort();
    }
    std::string again;
    if (!WriteS3(*segments, again)) {
        return 0;
    }
    const auto reread =
        ReadRecordFile({reinterpret_cast<const std::uint8_t*>(again.data()), again.size()}, "again",
                       InputFormat::SRecord);
    if (!reread || reread->size() != segments->size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < segments->size(); ++i) {
        if ((*reread)[i].address != (*segments)[i].address ||
            (*reread)[i].bytes != (*segments)[i].bytes) {
            std::abort();
        }
    }
    return 0;
}
