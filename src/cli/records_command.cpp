// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "cli/commands.h"
#include "records/record_target.h"
#include "records/yield_report.h"

namespace quorvale::cli {
namespace {

// A time as the records give it; nothing, having said why, when it is not a time.
bool ReadTime(const std::optional<std::string>& given, std::optional<std::string>& time) {
    if (!given) {
        return true;
    }
    const auto read = RecordTime(*given);
    if (!read) {
        std::fprintf(stderr, "quorvale records: %s\n", read.error().Words().c_str());
        return false;
    }
    time = *read;
    return true;
}

}  // namespace

int RunRecords(const RecordsOptions& options) {
    TimeRange range;
    if (!ReadTime(options.since, range.since) || !ReadTime(options.until, range.until)) {
        return ExitUsage;
    }
    const auto report = ReadYield(options.source, range);
    if (!report) {
        std::fprintf(stderr, "quorvale records: %s\n", report.error().Words().c_str());
        return ExitUsage;
    }
    const std::string text =
        options.json ? JsonLine(YieldJson(*report)) + "\n" : YieldText(*report);
    std::fputs(text.c_str(), stdout);
    return ExitSuccess;
}

int RunRecordsPush() {
    const auto pushed = PushSpool();
    if (!pushed) {
        std::fprintf(stderr, "quorvale records push: %s\n", pushed.error().Words().c_str());
        return ExitUsage;
    }
    for (const std::string& problem : pushed->problems) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    }
    std::printf("Sent %zu, %zu waiting\n", pushed->sent, pushed->waiting);
    return pushed->waiting == 0 ? ExitSuccess : ExitFailure;
}

}  // namespace quorvale::cli
