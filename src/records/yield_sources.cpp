// SPDX-License-Identifier: Apache-2.0
#include <fstream>

#include "records/record_target.h"
#include "records/sqlite_database.h"
#include "records/targets.h"
#include "records/yield_queries.h"

namespace quorvale {
namespace {

using records::SqliteDatabase;

Refusal LineRefused(const std::string& path, std::size_t number, const std::string& why) {
    return Refused(Error(ErrorKind::Malformed, 0,
                         path + " line " + std::to_string(number) + " is not a record: " + why));
}

// The file's lines as rows of a private database, so that they are counted by the same SQL
// as the engines' rows.
Result<std::unique_ptr<SqliteDatabase>> LoadJsonLines(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return Refused(Error(ErrorKind::NotFound, 0, "Cannot read '" + path + "'"));
    }
    auto db = SqliteDatabase::Open(":memory:");
    if (!db) {
        return db;
    }
    SqliteDatabase& memory = **db;
    if (Status ready = records::PrepareSchema(memory); !ready || !memory.BeginWrite()) {
        return Refused(ready ? Error(ErrorKind::Other, 0, "Cannot count records") : ready.error());
    }
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty()) {
            continue;
        }
        const Json record = Json::parse(line, nullptr, false);
        if (!record.is_object()) {
            return LineRefused(path, number, "not a JSON object");
        }
        if (Status kept = records::InsertRecord(memory, std::to_string(number), record); !kept) {
            return LineRefused(path, number, kept.error().Words());
        }
    }
    if (Status done = memory.Execute("COMMIT"); !done) {
        return Refused(done.error());
    }
    return db;
}

Result<YieldReport> CountIn(records::Database& db, const TimeRange& range) {
    if (Status known = records::CheckSchema(db); !known) {
        return Refused(known.error());
    }
    return records::CountYield(db, range);
}

}  // namespace

Result<YieldReport> ReadYield(const std::string& source, const TimeRange& range) {
    const RecordWhere where = ParseRecordWhere(source);
    switch (where.engine) {
        case RecordEngine::Sqlite: {
            auto db = SqliteDatabase::Open(where.location, false);
            return db ? CountIn(**db, range) : Refused(db.error());
        }
        case RecordEngine::Postgresql:
            return records::CountPostgresYield(where.location, range);
        case RecordEngine::JsonLines:
            break;
    }
    auto db = LoadJsonLines(where.location);
    return db ? CountIn(**db, range) : Refused(db.error());
}

}  // namespace quorvale
