// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "files/error.h"
#include "production/json_line.h"
#include "records/record_target.h"

// What the record engines share: one schema, one insert, and queries whose text both SQLite
// and PostgreSQL take ($1, $2 ... for parameters).
namespace quorvale::records {

// A row of a query's answer: one value per column, null, a number or text. PostgreSQL gives
// every value as text; SQLite as what it stored.
using Row = std::vector<Json>;

class Database {
public:
    virtual ~Database() = default;
    virtual RecordEngine Engine() const = 0;
    // Parameters go as text, numbers or null.
    virtual Result<std::vector<Row>> Query(const std::string& sql,
                                           const std::vector<Json>& params = {}) = 0;
    // A transaction that holds the database for writing from its start.
    virtual Status BeginWrite() = 0;
    Status Execute(const std::string& sql, const std::vector<Json>& params = {});
    // What the user calls it in a message: the file's path, or the server.
    virtual std::string Name() const = 0;
};

// Creates the schema where it is missing; refuses a newer one than this tool knows.
Status PrepareSchema(Database& db);
// Stores a record under `id`; one already stored under it stays as it was.
Status InsertRecord(Database& db, const std::string& id, const Json& record);

// A new random (version 4) UUID, in its usual text form.
std::string NewUuid();

// A number of a row, whichever way the engine gave it; 0 for null.
long long IntegerOf(const Json& value);
double RealOf(const Json& value);

}  // namespace quorvale::records
