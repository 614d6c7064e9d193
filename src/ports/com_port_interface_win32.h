// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

namespace quorvale {

// The COM-port device interface (GUID_DEVINTERFACE_COMPORT), which every COM port's driver
// registers, USB CDC adapters' included; written out here, as its header needs the kernel's.
inline constexpr GUID kComPortInterface{
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

}  // namespace quorvale
