// SPDX-License-Identifier: Apache-2.0
#include "records/record_target.h"

#include <algorithm>
#include <string_view>

#include "records/targets.h"

namespace quorvale {
namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";
// libpq's two URI schemes.
constexpr std::string_view kPostgresSchemes[] = {"postgresql://", "postgres://"};

}  // namespace

RecordWhere ParseRecordWhere(const std::string& where) {
    if (where.starts_with(kSqlitePrefix)) {
        return {RecordEngine::Sqlite, where.substr(kSqlitePrefix.size())};
    }
    for (const std::string_view scheme : kPostgresSchemes) {
        if (where.starts_with(scheme)) {
            return {RecordEngine::Postgresql, where};
        }
    }
    return {RecordEngine::JsonLines, where};
}

namespace {

// The password in the URI's user part ("user:password@"), if any.
std::string MaskUserPassword(const std::string& where) {
    const std::size_t from = where.find("://") + 3;
    const std::size_t at = where.find('@', from);
    const std::size_t end = where.find('/', from);
    if (at == std::string::npos || (end != std::string::npos && at > end)) {
        return where;
    }
    const std::size_t colon = where.find(':', from);
    if (colon == std::string::npos || colon > at) {
        return where;
    }
    return where.substr(0, colon + 1) + "***" + where.substr(at);
}

// The value of a "password=" parameter after the '?', if any.
std::string MaskPasswordParameter(std::string where) {
    constexpr std::string_view kParameter = "password=";
    const std::size_t query = where.find('?');
    if (query == std::string::npos) {
        return where;
    }
    for (std::size_t at = query + 1; at < where.size(); at = where.find('&', at) + 1) {
        if (where.compare(at, kParameter.size(), kParameter) == 0) {
            const std::size_t value = at + kParameter.size();
            const std::size_t end = std::min(where.find('&', value), where.size());
            where.replace(value, end - value, "***");
        }
        if (where.find('&', at) == std::string::npos) {
            break;
        }
    }
    return where;
}

}  // namespace

std::string RecordShown(const std::string& where) {
    if (ParseRecordWhere(where).engine != RecordEngine::Postgresql) {
        return where;
    }
    return MaskPasswordParameter(MaskUserPassword(where));
}

Result<std::unique_ptr<RecordTarget>> OpenRecordTarget(const std::string& where) {
    const RecordWhere parsed = ParseRecordWhere(where);
    switch (parsed.engine) {
        case RecordEngine::Sqlite:
            return records::OpenSqliteTarget(parsed.location);
        case RecordEngine::Postgresql:
            return records::OpenPostgresTarget(parsed.location);
        case RecordEngine::JsonLines:
            break;
    }
    return records::OpenJsonLinesTarget(parsed.location);
}

}  // namespace quorvale
