// SPDX-License-Identifier: Apache-2.0
// A build without SQLite and libpq (the Windows build: Debian has neither for mingw-w64)
// records to JSON Lines files only.
#include "records/targets.h"

namespace quorvale::records {
namespace {

constexpr char kJsonLinesOnly[] =
    "This build of quorvale records to JSON Lines files only (no SQLite or PostgreSQL)";

Refusal JsonLinesOnly() {
    return Refused(Error(ErrorKind::Other, 0, kJsonLinesOnly));
}

}  // namespace

Result<std::unique_ptr<RecordTarget>> OpenSqliteTarget(const std::string&) {
    return JsonLinesOnly();
}

Result<std::unique_ptr<RecordTarget>> OpenPostgresTarget(const std::string&) {
    return JsonLinesOnly();
}

}  // namespace quorvale::records

namespace quorvale {

Result<PushCount> PushSpool() {
    return records::JsonLinesOnly();
}

// Counting needs SQLite, for a JSON Lines file too.
Result<YieldReport> ReadYield(const std::string&, const TimeRange&) {
    return records::JsonLinesOnly();
}

}  // namespace quorvale
