// SPDX-License-Identifier: Apache-2.0
#include "link/port_handle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <thread>
#include <vector>

#include "sim/pseudo_terminal.h"
#include "support/temp_dir.h"
#include "support/timing.h"

namespace quorvale {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Line-discipline bytes: NUL, Ctrl-C, LF, CR, XON, XOFF and 0xFF. A cooked line would
// translate, swallow or echo each of them.
const Bytes kAwkwardBytes{0x00, 0x03, 0x0A, 0x0D, 0x11, 0x13, 0xFF};

Bytes ReadMaster(const sim::PseudoTerminal& pty, std::size_t count) {
    Bytes got;
    while (got.size() < count) {
        pollfd entry{pty.MasterFd(), POLLIN, 0};
        if (::poll(&entry, 1, 1000) <= 0) {
            break;
        }
        std::uint8_t chunk[64];
        const ssize_t n = ::read(pty.MasterFd(), chunk, sizeof chunk);
        if (n > 0) {
            got.insert(got.end(), chunk, chunk + n);
        }
    }
    return got;
}

// What the driver holds for the port to read.
std::size_t BytesWaiting(const PortHandle& port) {
    int count = 0;
    return ::ioctl(NativeDescriptor(port), FIONREAD, &count) == 0 ? std::size_t(count) : 0;
}

Bytes ReadPort(PortHandle& port, std::size_t count) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::uint8_t byte = 0;
        if (ReadPortByte(port, byte)) {
            got.push_back(byte);
        } else {
            WaitForInput(port, 1ms);
        }
    }
    return got;
}

TEST(SerialPort, KeepsLineDisciplineBytesIntactBothWays) {
    sim::PseudoTerminal pty;  // fresh, so cooked
    PortHandle port = OpenPort(pty.SlavePath(), {9600, 8, Parity::None, StopBits::One});
    ASSERT_TRUE(port.IsValid());

    ASSERT_TRUE(WritePort(port, kAwkwardBytes.data(), kAwkwardBytes.size()));
    FlushPort(port);
    EXPECT_EQ(ReadMaster(pty, kAwkwardBytes.size()), kAwkwardBytes);

    pty.Write(kAwkwardBytes.data(), kAwkwardBytes.size());
    EXPECT_EQ(ReadPort(port, kAwkwardBytes.size()), kAwkwardBytes);
    EXPECT_FALSE(pty.ReadLineState().cooked);
}

TEST(SerialPort, AnyRateAndTheStopBitsReachTheLine) {
    sim::PseudoTerminal pty;
    for (std::uint32_t rate : {19200u, 56000u, 128000u, 256000u, 12345u, 9600u}) {
        for (const StopBits stopBits : {StopBits::One, StopBits::Two}) {
            SCOPED_TRACE(testing::Message() << rate << " baud, stop code " << int(stopBits));
            PortHandle port = OpenPort(pty.SlavePath(), {rate, 8, Parity::None, stopBits});
            ASSERT_TRUE(port.IsValid());
            const sim::LineState line = pty.ReadLineState();
            EXPECT_EQ(line.baudRate, rate);
            EXPECT_EQ(line.twoStopBits, stopBits == StopBits::Two);
        }
    }
}

// Whether the terminal refuses openers that don't use flock. Root passes that refusal, so it
// asks the terminal instead.
bool TerminalIsExclusive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EBUSY;
    }
    int exclusive = 0;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    return exclusive != 0;
}

TEST(SerialPort, IsExclusiveAndReopensAtOtherSettingsAfterClose) {
    sim::PseudoTerminal pty;
    PortHandle first = OpenPort(pty.SlavePath(), {9600, 8, Parity::None, StopBits::One});
    ASSERT_TRUE(first.IsValid());
    const PortHandle second = OpenPort(pty.SlavePath(), {9600, 8, Parity::None, StopBits::One});
    EXPECT_FALSE(second.IsValid());
    ASSERT_TRUE(second.OpenError());
    EXPECT_EQ(second.OpenError()->Code(), EBUSY);
    EXPECT_EQ(second.OpenError()->Kind(), ErrorKind::Busy);
    EXPECT_TRUE(TerminalIsExclusive(pty.SlavePath())) << "a refused opener cleared the flag";

    ClosePort(first);
    const PortHandle again = OpenPort(pty.SlavePath(), {57600, 8, Parity::None, StopBits::Two});
    ASSERT_TRUE(again.IsValid());
    EXPECT_EQ(pty.ReadLineState().baudRate, 57600u);
}

TEST(SerialPort, RefusesWhatIsNotATerminalWithoutWritingToIt) {
    test::TempDir dir;
    const Bytes content{1, 2, 3};
    const std::string file = dir.Write("not-a-port", content);
    struct Case {
        std::string path;
        int error;
    };
    for (const Case& c :
         {Case{file, ENOTTY}, Case{dir.path(), EISDIR}, Case{dir.File("missing"), ENOENT}}) {
        SCOPED_TRACE(c.path);
        const PortHandle port = OpenPort(c.path, {9600, 8, Parity::None, StopBits::One});
        EXPECT_FALSE(port.IsValid());
        ASSERT_TRUE(port.OpenError());
        EXPECT_EQ(port.OpenError()->Code(), c.error);
    }
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), content);
}

TEST(SerialPort, OutputNoFlushSawLeaveIsThrownAwayAtClose) {
    // A close waits for queued output to drain, on a stuck line for up to thirty seconds;
    // output that a flush saw leave is delivered, the rest thrown away. The far end doesn't
    // read until the close, so it gets what the close left: all of it, or at most what its
    // own line buffer (4 KiB) had already taken.
    constexpr std::size_t kFarEndBuffer = 4096;
    const Bytes output(3 * kFarEndBuffer, 0x5A);
    struct Case {
        const char* name;
        bool flushed;
        bool stopped;
        bool delivered;
    };
    const Case cases[] = {
        {"flushed", true, false, true},
        {"written, never flushed (a failed exchange)", false, false, false},
        {"flushed, then stopped", true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::PseudoTerminal pty;
        std::stop_source stop;
        PortHandle port =
            OpenPort(pty.SlavePath(), {9600, 8, Parity::None, StopBits::One}, stop.get_token());
        ASSERT_TRUE(port.IsValid());
        ASSERT_TRUE(WritePort(port, output.data(), output.size()));
        if (c.flushed) {
            FlushPort(port);
        }
        if (c.stopped) {
            stop.request_stop();
        }
        ClosePort(port);
        const std::size_t received = ReadMaster(pty, output.size()).size();
        if (c.delivered) {
            EXPECT_EQ(received, output.size());
        } else {
            EXPECT_LE(received, kFarEndBuffer);
        }
    }
}

TEST(SerialPort, ReadNeverWaitsAndDrainDiscardsWhatIsWaiting) {
    sim::PseudoTerminal pty;
    PortHandle port = OpenPort(pty.SlavePath(), {9600, 8, Parity::None, StopBits::One});
    ASSERT_TRUE(port.IsValid());
    std::uint8_t byte = 0x42;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadPortByte(port, byte));
    EXPECT_LT(std::chrono::steady_clock::now() - before, test::kTimingTolerance);
    EXPECT_EQ(byte, 0x42);

    const Bytes waiting{1, 2, 3, 4};
    pty.Write(waiting.data(), waiting.size());
    ASSERT_TRUE(test::WaitUntil([&] { return BytesWaiting(port) == waiting.size(); }, 1s));
    DrainPort(port);
    EXPECT_FALSE(ReadPortByte(port, byte));
}

}  // namespace
}  // namespace quorvale
