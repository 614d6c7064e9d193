// SPDX-License-Identifier: Apache-2.0
// What both serial backends share: moving a handle, the receive buffer, closing.
#include "link/port_handle.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "files/system_error.h"

namespace quorvale {

bool PortHandle::DiscardsOutputOnClose() const {
    // The driver would otherwise hold the close until the queue had drained: ten seconds for
    // a block at 300 baud, and up to thirty on Linux for a controller that has stopped taking
    // data. After a flush that emptied the queue nothing is thrown away, so that nothing
    // written is lost. (A USB-serial adapter still sends what it has already taken, at most
    // about one block: its drivers keep no flush of their own.)
    return m_stop.stop_requested() || m_outputUnflushed;
}

PortHandle::PortHandle(PortHandle&& other) noexcept {
    *this = std::move(other);
}

PortHandle& PortHandle::operator=(PortHandle&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
        m_exclusive = std::exchange(other.m_exclusive, false);
        m_outputUnflushed = std::exchange(other.m_outputUnflushed, false);
        m_openError = other.m_openError;
        m_rateRefused = std::move(other.m_rateRefused);
        m_lost = std::move(other.m_lost);
        m_lowLatencySet = std::exchange(other.m_lowLatencySet, false);
        m_baudRate = other.m_baudRate;
        m_stop = std::move(other.m_stop);
        m_observer = std::exchange(other.m_observer, nullptr);
        m_stopSignal = std::move(other.m_stopSignal);
        std::copy(other.m_received + other.m_receivedPos, other.m_received + other.m_receivedEnd,
                  m_received);
        m_receivedEnd = other.m_receivedEnd - other.m_receivedPos;
        m_receivedPos = 0;
        other.m_receivedPos = other.m_receivedEnd = 0;
    }
    return *this;
}

void PortHandle::Opened(const LineSettings& settings, std::stop_token stop,
                        LineObserver* observer) {
    m_baudRate = settings.baudRate;
    m_stop = std::move(stop);
    m_observer = observer;
    if (m_observer) {
        m_observer->SettingsApplied(settings);
    }
}

void PortHandle::RefuseRate(const RateRefusal& refusal) {
    // Nothing has been written, so closing throws nothing away.
    Release();
    m_rateRefused = refusal;
}

void PortHandle::MarkLost(long error) {
    if (!m_lost) {
        m_lost = PortLoss{static_cast<int>(error), error != 0 ? SystemErrorText(error) : ""};
    }
}

bool WritePort(PortHandle& port, const std::uint8_t* bytes, std::uint32_t count) {
    std::uint32_t taken = 0;
    const bool all = WriteToDriver(port, bytes, count, taken);
    if (port.m_observer && taken > 0) {
        port.m_observer->Sent({bytes, taken});
    }
    return all;
}

bool ReadPortByte(PortHandle& port, std::uint8_t& out) {
    if (port.m_receivedPos == port.m_receivedEnd) {
        port.m_receivedPos = 0;
        port.m_receivedEnd = port.ReadAvailable();
        if (port.m_receivedEnd == 0) {
            return false;
        }
        if (port.m_observer) {
            port.m_observer->Received({port.m_received, port.m_receivedEnd});
        }
    }
    out = port.m_received[port.m_receivedPos++];
    return true;
}

void DrainPort(PortHandle& port) {
    std::uint8_t discarded = 0;
    while (ReadPortByte(port, discarded)) {
    }
}

void ClosePort(PortHandle& port) {
    port.Release();
}

PortHandle OpenPort(const std::string& name, const LineSettings& settings, std::stop_token stop,
                    LineObserver* observer) {
    PortHandle port;
    port.m_openError = port.Acquire(name);
    if (!port.IsValid()) {
        return port;
    }
    if (const auto refusal = port.ApplySettings(settings)) {
        port.RefuseRate(*refusal);
        return port;
    }
    port.Prepare(stop);
    port.Opened(settings, std::move(stop), observer);
    return port;
}

std::optional<Error> ProbePortOpen(const std::string& name) {
    PortHandle probe;
    return probe.Acquire(name);
}

bool OpenErrorMeansGone(const Error& openError) {
    return openError.Kind() == ErrorKind::NotFound || openError.Kind() == ErrorKind::Gone;
}

bool StopRequested(const PortHandle& port) {
    return port.m_stop.stop_requested();
}

bool WaitingIsOver(const PortHandle& port) {
    return StopRequested(port) || port.m_lost.has_value();
}

namespace {

// The rate a clock divided by a whole number comes nearest to `rate`, as a UART's divisor
// latch (or an FTDI chip's eighths of its 3 MHz clock) makes it.
std::uint32_t DividedRate(std::uint32_t baseClock, std::uint32_t rate) {
    const std::uint64_t divisor = std::max<std::uint64_t>(
        1, (std::uint64_t{baseClock} + rate / 2) / std::max<std::uint32_t>(rate, 1));
    return static_cast<std::uint32_t>(baseClock / divisor);
}

// Whether the driver's base clock is one its rates are divided from. A clock below the rate
// can't make it at all, and a driver that can't will keep another rate, which the read-back
// shows; some USB drivers report a nominal 9600 that is no clock at all, and are taken at
// their word.
bool DividesTo(std::uint32_t baseClock, std::uint32_t rate) {
    return baseClock != 0 && rate != 0 && baseClock >= rate;
}

bool CloseEnough(std::uint32_t asked, std::uint32_t onLine) {
    const std::uint64_t apart = asked > onLine ? asked - onLine : onLine - asked;
    return apart * 1000 <= std::uint64_t{asked} * RateTolerancePerMille;
}

}  // namespace

std::optional<RateRefusal> CheckRate(std::uint32_t asked, bool taken,
                                     std::optional<std::uint32_t> reported,
                                     std::uint32_t baseClock) {
    // What the driver says it runs at, and then what its divisor really makes of that. Rate 0
    // would hang the line up instead of setting a rate.
    std::uint32_t onLine = reported.value_or(asked);
    if (DividesTo(baseClock, onLine)) {
        onLine = DividedRate(baseClock, onLine);
    }
    if (taken && asked != 0 && CloseEnough(asked, onLine)) {
        return std::nullopt;
    }
    RateRefusal refusal{asked, std::nullopt};
    if (baseClock != 0 && asked != 0) {
        refusal.nearest = DividedRate(baseClock, asked);
    } else if (taken && asked != 0 && onLine != 0 && onLine != asked) {
        // A driver with no clock to report that put another rate in place chose it itself.
        refusal.nearest = onLine;
    }
    return refusal;
}

}  // namespace quorvale
