// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace quorvale::sim {

// The line as the tool last set it on the terminal side, read from the controller's side.
struct LineState {
    std::uint32_t baudRate = 0;
    std::uint8_t dataBits = 8;
    bool parity = false;
    bool twoStopBits = false;
    // Canonical input or echo still on: the tool left the terminal cooked.
    bool cooked = false;

    friend bool operator==(const LineState&, const LineState&) = default;
};

// A pseudo-terminal pair. The terminal side (SlavePath) is what the tool opens like any
// serial port; the controller talks on the master side. A descriptor of the terminal side
// stays open for the pair's whole life, so the master never sees a hang-up when the tool
// closes the port between attempts.
//
// The Linux pty driver forces 8 data bits and no parity on every change, so only the rate and
// the stop bits of the tool's settings are visible here.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    // Non-blocking descriptor of the controller's side.
    int MasterFd() const { return m_master; }
    LineState ReadLineState() const;

    // Writes every byte to the tool's side (retrying while the terminal's buffer is full).
    void Write(const std::uint8_t* bytes, std::size_t count) const;

    // Closes both sides, as when a USB adapter is pulled out: the tool's descriptor then
    // reports a hang-up and its reads and writes fail.
    void Close();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

}  // namespace quorvale::sim
