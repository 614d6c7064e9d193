// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "records/database.h"

struct pg_conn;

namespace quorvale::records {

// One connection to a PostgreSQL server, by libpq's connection string or URI.
class PostgresDatabase final : public Database {
public:
    ~PostgresDatabase() override;
    PostgresDatabase(const PostgresDatabase&) = delete;
    PostgresDatabase& operator=(const PostgresDatabase&) = delete;

    static Result<std::unique_ptr<PostgresDatabase>> Connect(const std::string& uri);

    RecordEngine Engine() const override { return RecordEngine::Postgresql; }
    Result<std::vector<Row>> Query(const std::string& sql,
                                   const std::vector<Json>& params = {}) override;
    // Also takes the records' lock, so that two stations creating the schema at once wait.
    Status BeginWrite() override;
    std::string Name() const override;

private:
    explicit PostgresDatabase(pg_conn* connection) : m_connection(connection) {}
    Error Failure() const;

    pg_conn* m_connection;
};

}  // namespace quorvale::records
