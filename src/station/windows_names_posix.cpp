// SPDX-License-Identifier: Apache-2.0
#include "station/station_options.h"

namespace quorvale {

bool SlotsAreWindowsNames() {
    return false;
}

}  // namespace quorvale
