// SPDX-License-Identifier: Apache-2.0
// Windows has no file system events for COM names. A wait asks the configuration manager to
// say when a COM port comes or goes, and looks again at each word from it; a look once a
// second backs that up, as the word is missed for some USB CDC adapters and comes before the
// driver is ready for others.
#include <windows.h>
// The configuration manager's types need windows.h first.
#include <cfgmgr32.h>

#include <algorithm>

#include "ports/com_port_interface_win32.h"
#include "ports/com_presence.h"
#include "ports/path_watch.h"

namespace quorvale {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLookAgain = std::chrono::milliseconds(1000);

// One kernel event, closed when it goes.
class Event {
public:
    Event() : m_handle(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~Event() {
        if (m_handle) {
            CloseHandle(m_handle);
        }
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Sets an event whenever a COM-port interface arrives or is removed, for as long as it lives.
// The configuration manager's notifications are looked up at run time: a program linked to
// them does not start where they are missing (wine 8), and there the event is never set.
class ComPortChanges {
public:
    ComPortChanges() {
        using Register =
            CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
        m_library = LoadLibraryA("cfgmgr32.dll");
        const auto registerNotification =
            m_library ? reinterpret_cast<Register>(reinterpret_cast<void*>(
                            GetProcAddress(m_library, "CM_Register_Notification")))
                      : nullptr;
        if (!registerNotification || !m_changed.get()) {
            return;
        }
        CM_NOTIFY_FILTER filter{};
        filter.cbSize = sizeof filter;
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        filter.u.DeviceInterface.ClassGuid = kComPortInterface;
        if (registerNotification(&filter, m_changed.get(), Changed, &m_notification) !=
            CR_SUCCESS) {
            m_notification = nullptr;
        }
    }
    ~ComPortChanges() {
        using Unregister = CONFIGRET(WINAPI*)(HCMNOTIFICATION);
        if (m_notification) {
            // Returns once no call of Changed is under way, so the event outlives them all.
            const auto unregister = reinterpret_cast<Unregister>(
                reinterpret_cast<void*>(GetProcAddress(m_library, "CM_Unregister_Notification")));
            if (unregister) {
                unregister(m_notification);
            }
        }
        if (m_library) {
            FreeLibrary(m_library);
        }
    }
    ComPortChanges(const ComPortChanges&) = delete;
    ComPortChanges& operator=(const ComPortChanges&) = delete;

    HANDLE Event() const { return m_changed.get(); }

private:
    static DWORD CALLBACK Changed(HCMNOTIFICATION, PVOID changed, CM_NOTIFY_ACTION,
                                  PCM_NOTIFY_EVENT_DATA, DWORD) {
        SetEvent(static_cast<HANDLE>(changed));
        return ERROR_SUCCESS;
    }

    quorvale::Event m_changed;
    HMODULE m_library = nullptr;
    HCMNOTIFICATION m_notification = nullptr;
};

// Whether the configuration manager has its notifications here (wine lacks them).
bool NotificationsAvailable() {
    const HMODULE library = LoadLibraryA("cfgmgr32.dll");
    const bool available =
        library && GetProcAddress(library, "CM_Register_Notification") != nullptr;
    if (library) {
        FreeLibrary(library);
    }
    return available;
}

ComLook LookAt(const std::string& port) {
    ComLook look;
    char target[1024];
    look.named = QueryDosDeviceA(port.c_str(), target, sizeof target) != 0;
    look.openTried = look.named && LookOpensPort(NotificationsAvailable());
    if (!look.openTried) {
        return look;
    }
    const std::string device = "\\\\.\\" + port;
    const HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        look.openError = GetLastError();
        return look;
    }
    look.opened = true;
    look.characterDevice = GetFileType(handle) == FILE_TYPE_CHAR;
    CloseHandle(handle);
    return look;
}

}  // namespace

bool PathExists(const std::string& path) {
    if (const auto port = ComPortName(path)) {
        return ComPortPresent(LookAt(*port));
    }
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A COM name has nothing to tell one plug from the next by.
std::optional<PathStamp> StampPath(const std::string& path) {
    return PathExists(path) ? std::optional<PathStamp>(PathStamp{}) : std::nullopt;
}

Result<PathWait> WaitForPath(const std::string& path, bool present, std::stop_token stop,
                             std::optional<std::chrono::milliseconds> limit,
                             const std::optional<PathStamp>&) {
    const auto deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
    const ComPortChanges changes;
    const Event stopped;
    const std::stop_callback wake(stop, [&] { SetEvent(stopped.get()); });
    while (PathExists(path) != present) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return PathWait::TimedOut;
        }
        const auto wait = std::min<Clock::duration>(kLookAgain, deadline - now);
        const HANDLE events[] = {stopped.get(), changes.Event()};
        const DWORD count = changes.Event() ? 2 : 1;
        WaitForMultipleObjects(
            count, events, FALSE,
            static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
        if (stop.stop_requested()) {
            return PathWait::Stopped;
        }
    }
    return PathWait::Reached;
}

}  // namespace quorvale
