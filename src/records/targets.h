// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "records/record_target.h"
#include "records/yield_report.h"

// Each engine's target; OpenRecordTarget picks one.
namespace quorvale::records {

Result<std::unique_ptr<RecordTarget>> OpenJsonLinesTarget(const std::string& path);
// A build without the database libraries refuses these, saying so.
Result<std::unique_ptr<RecordTarget>> OpenSqliteTarget(const std::string& path);
Result<std::unique_ptr<RecordTarget>> OpenPostgresTarget(const std::string& uri);

// The yield as a PostgreSQL server counts it.
Result<YieldReport> CountPostgresYield(const std::string& uri, const TimeRange& range);

}  // namespace quorvale::records
