// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "image/firmware_image.h"

namespace quorvale {

enum DownloadPhase : std::int32_t {
    Initiating = 0,  // before any port is opened
    Connected = 1,   // the bootloader answered with the hardware code the image needs
    Completed = 2,   // the finish frame has gone out: the download succeeded
};

namespace WorkerThread {

// The worker's only view of whatever started it: it pulls its inputs through the getters and
// pushes its reports through the Report operations, all on the worker's own thread. The
// implementer owns everything the getters hand out and keeps it unchanged while the worker
// runs. Nobody destroys an implementer through this interface.
struct Progress {
    virtual const char* GetPortName() const = 0;
    virtual std::uint32_t GetAppBaudRate() const = 0;
    virtual std::uint8_t GetAppDataBits() const = 0;
    virtual std::uint8_t GetAppParity() const = 0;
    virtual std::uint8_t GetAppStopBits() const = 0;
    virtual const FirmwareImage& GetImage() const = 0;
    // `text` is valid only during the call.
    virtual void ReportError(const char* text) = 0;
    virtual void ReportPhase(DownloadPhase phase) = 0;
    // `done` of `total` image bytes dealt with; total is never 0.
    virtual void ReportProgress(std::uint32_t done, std::uint32_t total) = 0;

protected:
    ~Progress() = default;
};

}  // namespace WorkerThread
}  // namespace quorvale
