// SPDX-License-Identifier: Apache-2.0
#include <mutex>

#include "records/sqlite_database.h"
#include "records/targets.h"

namespace quorvale::records {
namespace {

// A row per record, each in a transaction of its own, so that a station that stops at any
// moment keeps every record it reported as kept.
class SqliteTarget final : public RecordTarget {
public:
    explicit SqliteTarget(std::unique_ptr<SqliteDatabase> db) : m_db(std::move(db)) {}

    Status Write(const Json& record) override {
        const std::lock_guard lock(m_mutex);
        if (Status begun = m_db->BeginWrite(); !begun) {
            return begun;
        }
        if (Status inserted = InsertRecord(*m_db, NewUuid(), record); !inserted) {
            (void)m_db->Execute("ROLLBACK");
            return inserted;
        }
        return m_db->Execute("COMMIT");
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<SqliteDatabase> m_db;
};

}  // namespace

Result<std::unique_ptr<RecordTarget>> OpenSqliteTarget(const std::string& path) {
    auto db = SqliteDatabase::Open(path);
    if (!db) {
        return Refused(db.error());
    }
    if (Status prepared = PrepareSchema(**db); !prepared) {
        return Refused(prepared.error());
    }
    return std::unique_ptr<RecordTarget>(std::make_unique<SqliteTarget>(std::move(*db)));
}

}  // namespace quorvale::records
