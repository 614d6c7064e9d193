// What both serial backends share: moving a handle, the receive buffer, closing.
#include "link/serial_port.h"

#include <algorithm>
#include <utility>

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

int ProbePortOpen(const std::string& name) {
    PortHandle probe;
    return probe.Acquire(name);
}

bool StopRequested(const PortHandle& port) {
    return port.m_stop.stop_requested();
}

}  // namespace quorvale
