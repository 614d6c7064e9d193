// SPDX-License-Identifier: Apache-2.0
#include "records/yield_queries.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "records/schema.h"

namespace quorvale::records {
namespace {

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

std::string Text(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

void Add(OutcomeCounts& counts, const std::string& outcome, long long count) {
    if (outcome == "completed") {
        counts.passed += count;
    } else if (outcome == "failed") {
        counts.failed += count;
    } else if (outcome == "cancelled") {
        counts.cancelled += count;
    }
}

// Each report's table, keyed so that the engines' orders of text (their collations) don't
// matter.
struct Tables {
    std::map<std::pair<long long, long long>, OutcomeCounts> hardware;
    std::map<std::pair<std::string, std::string>, OutcomeCounts> ports;
    std::map<std::string, long long> kinds;
};

// Every table of the report from one pass of the database over its rows: the rows grouped by
// all the report's keys at once, a few hundred groups for a floor's million rows, folded here.
// The pass reads the one index that holds every column it needs, so a million rows take a
// fraction of a second on either engine.
Status CountGroups(Database& db, const Filter& filter, YieldReport& report) {
    const auto rows = db.Query(
        "SELECT hardware_code, version, host, port, outcome, failure_kind, "
        "count(*)" +
            filter.Where() +
            " GROUP BY hardware_code, version, host, port, outcome, "
            "failure_kind",
        filter.params);
    if (!rows) {
        return Refused(rows.error());
    }
    Tables tables;
    for (const Row& row : *rows) {
        const std::string outcome = Text(row[4]);
        const long long count = IntegerOf(row[6]);
        report.downloads += count;
        Add(report.outcomes, outcome, count);
        Add(tables.hardware[{IntegerOf(row[0]), IntegerOf(row[1])}], outcome, count);
        Add(tables.ports[{Text(row[2]), Text(row[3])}], outcome, count);
        if (!row[5].is_null()) {
            tables.kinds[Text(row[5])] += count;
        }
    }
    for (const auto& [key, counts] : tables.hardware) {
        report.byHardware.push_back({key.first, key.second, counts});
    }
    for (const auto& [key, counts] : tables.ports) {
        report.byPort.push_back({key.first, key.second, counts});
    }
    for (const auto& [kind, count] : tables.kinds) {
        report.failureKinds.push_back({kind, count});
    }
    std::stable_sort(report.failureKinds.begin(), report.failureKinds.end(),
                     [](const auto& a, const auto& b) { return a.count > b.count; });
    return {};
}

// The nearest rank of a share of `count` values: the smallest at or above it.
long long NearestRank(long long count, int percent) {
    return (count * percent + 99) / 100;
}

// The value of rank `rank` (from 1) among counted values in ascending order.
double ValueAtRank(const std::vector<std::pair<double, long long>>& counted, long long rank) {
    long long below = 0;
    for (const auto& [value, count] : counted) {
        below += count;
        if (below >= rank) {
            return value;
        }
    }
    return counted.back().first;
}

// The median and 95th percentile of the completed downloads' seconds, exactly, from how many
// took each time: a download's seconds are kept to the millisecond, so a floor's million
// downloads take a few thousand different times, and no engine sends every row.
Status Seconds(Database& db, const Filter& filter, YieldReport& report) {
    report.completed = report.outcomes.passed;
    if (report.completed == 0) {
        return {};
    }
    const auto rows = db.Query(
        "SELECT seconds, count(*)" + filter.Where("outcome = 'completed'") + " GROUP BY seconds",
        filter.params);
    if (!rows || rows->empty()) {
        return rows ? Status() : Refused(rows.error());
    }
    std::vector<std::pair<double, long long>> counted;
    counted.reserve(rows->size());
    for (const Row& row : *rows) {
        counted.emplace_back(RealOf(row[0]), IntegerOf(row[1]));
    }
    std::sort(counted.begin(), counted.end());
    report.medianSeconds = ValueAtRank(counted, NearestRank(report.completed, 50));
    report.p95Seconds = ValueAtRank(counted, NearestRank(report.completed, 95));
    return {};
}

}  // namespace

Result<YieldReport> CountYield(Database& db, const TimeRange& range) {
    YieldReport report;
    report.range = range;
    const Filter filter = RangeFilter(range);
    for (const auto step : {CountGroups, Seconds}) {
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
