// SPDX-License-Identifier: Apache-2.0
#include "records/yield_queries.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "records/schema.h"

namespace quorvale::records {
namespace {

constexpr char kOutcomeSums[] =
    "COALESCE(SUM(CASE WHEN outcome = 'completed' THEN 1 ELSE 0 END), 0), "
    "COALESCE(SUM(CASE WHEN outcome = 'failed' THEN 1 ELSE 0 END), 0), "
    "COALESCE(SUM(CASE WHEN outcome = 'cancelled' THEN 1 ELSE 0 END), 0)";

// The conditions every query shares, and their parameters.
struct Filter {
    std::string where;
    std::vector<Json> params;

    // `also` joins the range's conditions.
    std::string Where(const std::string& also = {}) const {
        const std::string both =
            where.empty() || also.empty() ? where + also : where + " AND " + also;
        return both.empty() ? std::string(" FROM downloads")
                            : std::string(" FROM downloads WHERE ") + both;
    }
    // Appended rather than prefixed: GCC 12 at -O3 takes `"$" + std::string` for an overlapping
    // copy (-Wrestrict).
    std::string Next() const {
        std::string placeholder(1, '$');
        placeholder += std::to_string(params.size() + 1);
        return placeholder;
    }
};

Filter RangeFilter(const TimeRange& range) {
    Filter filter;
    if (range.since) {
        filter.where = "time >= " + filter.Next();
        filter.params.push_back(*range.since);
    }
    if (range.until) {
        filter.where += (filter.where.empty() ? "time < " : " AND time < ") + filter.Next();
        filter.params.push_back(*range.until);
    }
    return filter;
}

OutcomeCounts CountsAt(const Row& row, std::size_t first) {
    return {IntegerOf(row[first]), IntegerOf(row[first + 1]), IntegerOf(row[first + 2])};
}

std::string Text(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

Status Totals(Database& db, const Filter& filter, YieldReport& report) {
    const auto rows =
        db.Query(std::string("SELECT count(*), ") + kOutcomeSums + filter.Where(), filter.params);
    if (!rows) {
        return Refused(rows.error());
    }
    report.downloads = IntegerOf(rows->front()[0]);
    report.outcomes = CountsAt(rows->front(), 1);
    return {};
}

Status ByHardware(Database& db, const Filter& filter, YieldReport& report) {
    const auto rows = db.Query(std::string("SELECT hardware_code, version, ") + kOutcomeSums +
                                   filter.Where() + " GROUP BY hardware_code, version",
                               filter.params);
    if (!rows) {
        return Refused(rows.error());
    }
    for (const Row& row : *rows) {
        report.byHardware.push_back({IntegerOf(row[0]), IntegerOf(row[1]), CountsAt(row, 2)});
    }
    // Sorted here: the engines' orders of text differ by collation.
    std::sort(report.byHardware.begin(), report.byHardware.end(), [](const auto& a, const auto& b) {
        return std::tie(a.hardwareCode, a.version) < std::tie(b.hardwareCode, b.version);
    });
    return {};
}

Status ByPort(Database& db, const Filter& filter, YieldReport& report) {
    const auto rows = db.Query(
        std::string("SELECT host, port, ") + kOutcomeSums + filter.Where() + " GROUP BY host, port",
        filter.params);
    if (!rows) {
        return Refused(rows.error());
    }
    for (const Row& row : *rows) {
        report.byPort.push_back({Text(row[0]), Text(row[1]), CountsAt(row, 2)});
    }
    std::sort(report.byPort.begin(), report.byPort.end(), [](const auto& a, const auto& b) {
        return std::tie(a.host, a.port) < std::tie(b.host, b.port);
    });
    return {};
}

Status FailureKinds(Database& db, const Filter& filter, YieldReport& report) {
    const auto rows =
        db.Query("SELECT failure_kind, count(*)" + filter.Where("failure_kind IS NOT NULL") +
                     " GROUP BY failure_kind",
                 filter.params);
    if (!rows) {
        return Refused(rows.error());
    }
    for (const Row& row : *rows) {
        report.failureKinds.push_back({Text(row[0]), IntegerOf(row[1])});
    }
    std::sort(report.failureKinds.begin(), report.failureKinds.end(),
              [](const auto& a, const auto& b) {
                  return std::tie(b.count, a.kind) < std::tie(a.count, b.kind);
              });
    return {};
}

// The nearest rank of a share of `count` values: the smallest at or above it.
long long NearestRank(long long count, int percent) {
    return (count * percent + 99) / 100;
}

// The median and 95th percentile of the completed downloads' seconds, found by the database
// in one sort, so that no engine sends every row.
Status Seconds(Database& db, const Filter& filter, YieldReport& report) {
    report.completed = report.outcomes.passed;
    if (report.completed == 0) {
        return {};
    }
    Filter ranks = filter;
    const std::string median = ranks.Next();
    ranks.params.push_back(NearestRank(report.completed, 50));
    const std::string p95 = ranks.Next();
    ranks.params.push_back(NearestRank(report.completed, 95));
    const auto rows = db.Query(
        "SELECT nth, seconds FROM (SELECT seconds, row_number() OVER (ORDER BY seconds) AS nth" +
            filter.Where("outcome = 'completed'") + ") AS ranked WHERE nth = CAST(" + median +
            " AS integer) OR nth = CAST(" + p95 + " AS integer)",
        ranks.params);
    if (!rows) {
        return Refused(rows.error());
    }
    for (const Row& row : *rows) {
        const long long rank = IntegerOf(row[0]);
        if (rank == NearestRank(report.completed, 50)) {
            report.medianSeconds = RealOf(row[1]);
        }
        if (rank == NearestRank(report.completed, 95)) {
            report.p95Seconds = RealOf(row[1]);
        }
    }
    return {};
}

}  // namespace

Result<YieldReport> CountYield(Database& db, const TimeRange& range) {
    YieldReport report;
    report.range = range;
    const Filter filter = RangeFilter(range);
    for (const auto step : {Totals, ByHardware, ByPort, FailureKinds, Seconds}) {
        if (Status done = step(db, filter, report); !done) {
            return Refused(done.error());
        }
    }
    return report;
}

Status CheckSchema(Database& db) {
    const auto version = db.Query(schema::kReadVersion);
    if (!version) {
        return Refused(Error(ErrorKind::Malformed, 0,
                             "No records in " + db.Name() + ": " + version.error().Words()));
    }
    const long long found = IntegerOf(version->front().front());
    if (found > schema::kVersion) {
        char words[512];
        std::snprintf(words, sizeof words, schema::kNewerSchema, db.Name().c_str(), found,
                      schema::kVersion);
        return Refused(Error(ErrorKind::Other, 0, words));
    }
    return {};
}

}  // namespace quorvale::records
