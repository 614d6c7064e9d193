// SPDX-License-Identifier: Apache-2.0
#include "records/targets.h"

namespace quorvale::records {

Result<std::unique_ptr<RecordTarget>> OpenPostgresTarget(const std::string&) {
    return Refused(Error(ErrorKind::Other, 0, "PostgreSQL records are not available yet"));
}

Result<YieldReport> CountPostgresYield(const std::string&, const TimeRange&) {
    return Refused(Error(ErrorKind::Other, 0, "PostgreSQL records are not available yet"));
}

}  // namespace quorvale::records

namespace quorvale {

Result<PushCount> PushSpool() {
    return PushCount{};
}

}  // namespace quorvale
