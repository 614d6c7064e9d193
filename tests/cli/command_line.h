// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the command-line tests share: running the tool, and simulators in processes of their own.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "image/firmware_file.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace quorvale::test {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Args = std::vector<std::string>;

inline Args Quorvale(Args args) {
    args.insert(args.begin(), QUORVALE_EXE);
    return args;
}

inline ProcessResult RunQuorvale(const Args& args) {
    return Run(Quorvale(args));
}

// The whole file; empty when there is none.
inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline Bytes Sample(std::size_t size) {
    Bytes data(size);
    std::iota(data.begin(), data.end(), std::uint8_t{3});
    return data;
}

// `quorvale simulate` running in the background, and the terminal it offers as a port.
class SimulateProcess {
public:
    explicit SimulateProcess(const Args& extra) : m_process(Quorvale(WithCommand(extra))) {
        m_port = m_process.FirstLine(5s);
    }
    const std::string& Port() const { return m_port; }
    test::Process& Process() { return m_process; }

private:
    static Args WithCommand(Args extra) {
        extra.insert(extra.begin(), "simulate");
        return extra;
    }
    test::Process m_process;
    std::string m_port;
};

class CommandLineTest : public testing::Test {
protected:
    std::string Firmware(const Bytes& data, std::uint16_t start = 0x1000,
                         std::uint8_t hardware = 7) {
        return m_dir.Write("fw.qvx", EncodeFirmwareFile({19200, start, 3, hardware}, data));
    }
    test::TempDir m_dir;
};

}  // namespace quorvale::test
