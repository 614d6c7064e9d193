// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "records/database.h"
#include "records/yield_report.h"

namespace quorvale::records {

// The report, counted by the database in the same SQL whichever engine it is.
Result<YieldReport> CountYield(Database& db, const TimeRange& range);

// Refuses a database without records' schema, or with a newer one than this tool knows,
// without changing it.
Status CheckSchema(Database& db);

}  // namespace quorvale::records
