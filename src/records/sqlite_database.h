// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "records/database.h"

struct sqlite3;

namespace quorvale::records {

// One connection to an SQLite database, in WAL mode, waiting for other writers rather than
// failing at once. Not for two threads at a time.
class SqliteDatabase final : public Database {
public:
    ~SqliteDatabase() override;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // With `create`, the file is made when missing (not its folder); ":memory:" is a private
    // database.
    static Result<std::unique_ptr<SqliteDatabase>> Open(const std::string& path,
                                                        bool create = true);

    RecordEngine Engine() const override { return RecordEngine::Sqlite; }
    Result<std::vector<Row>> Query(const std::string& sql,
                                   const std::vector<Json>& params = {}) override;
    Status BeginWrite() override;
    std::string Name() const override { return m_path; }

private:
    SqliteDatabase(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}
    Error Failure(const std::string& what) const;
    Status SwitchToWal();

    sqlite3* m_db;
    const std::string m_path;
};

}  // namespace quorvale::records
