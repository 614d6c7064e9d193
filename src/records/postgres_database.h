// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>

#include "records/database.h"
#include "records/libpq_library.h"

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
    PostgresDatabase(std::shared_ptr<const LibPq> pq, pg_conn* connection)
        : m_pq(std::move(pq)), m_connection(connection) {}
    Error Failure() const;

    // Declared first, so that the library outlives the connection it made.
    std::shared_ptr<const LibPq> m_pq;
    pg_conn* m_connection;
};

}  // namespace quorvale::records
