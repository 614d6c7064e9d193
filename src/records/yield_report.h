// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files/error.h"
#include "production/json_line.h"

// The yield of a line, from its records: what `quorvale records` shows.
namespace quorvale {

// Records from `since` (inclusive) until `until` (exclusive), each as the records give time.
struct TimeRange {
    std::optional<std::string> since;
    std::optional<std::string> until;
};

// A time as given on the command line, in UTC ("2026-12-10", "2026-12-10T09:14",
// "2026-12-10 09:14:03", "...03.690Z"), as the records give it: "2026-12-10T09:14:03.690Z".
Result<std::string> RecordTime(const std::string& given);

struct OutcomeCounts {
    long long passed = 0;
    long long failed = 0;
    long long cancelled = 0;
    friend bool operator==(const OutcomeCounts&, const OutcomeCounts&) = default;
};

struct YieldReport {
    TimeRange range;
    long long downloads = 0;
    OutcomeCounts outcomes;
    struct Hardware {
        long long hardwareCode = 0;
        long long version = 0;
        OutcomeCounts outcomes;
    };
    std::vector<Hardware> byHardware;
    struct Port {
        std::string host;
        std::string port;
        OutcomeCounts outcomes;
    };
    std::vector<Port> byPort;
    struct Kind {
        std::string kind;
        long long count = 0;
    };
    std::vector<Kind> failureKinds;
    // Of the downloads that completed: how many, and the seconds they took, by nearest rank.
    long long completed = 0;
    std::optional<double> medianSeconds;
    std::optional<double> p95Seconds;
};

// SOURCE as `quorvale records` takes it: a JSON Lines file, "sqlite:PATH" or a PostgreSQL
// URI. The counting is the database's (the server's, for PostgreSQL); a JSON Lines file is
// read into a private database first.
Result<YieldReport> ReadYield(const std::string& source, const TimeRange& range);

std::string YieldText(const YieldReport& report);
Json YieldJson(const YieldReport& report);

}  // namespace quorvale
