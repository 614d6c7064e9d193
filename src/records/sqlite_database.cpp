// SPDX-License-Identifier: Apache-2.0
#include "records/sqlite_database.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace quorvale::records {
namespace {

// Long enough for every station of a line writing to one file; a record is a few rows' work.
constexpr int kBusyTimeoutMs = 10000;
constexpr auto kBusyRetry = std::chrono::milliseconds(5);

ErrorKind KindOf(int code) {
    switch (code & 0xFF) {
        case SQLITE_CANTOPEN:
            return ErrorKind::NotFound;
        case SQLITE_PERM:
        case SQLITE_READONLY:
            return ErrorKind::AccessDenied;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ErrorKind::Busy;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            return ErrorKind::Malformed;
        default:
            return ErrorKind::Other;
    }
}

// Frees a statement however the query ends.
struct Statement {
    sqlite3_stmt* handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
};

int Bind(sqlite3_stmt* statement, int index, const Json& value) {
    if (value.is_null()) {
        return sqlite3_bind_null(statement, index);
    }
    if (value.is_number_integer()) {
        return sqlite3_bind_int64(statement, index, value.get<sqlite3_int64>());
    }
    if (value.is_number()) {
        return sqlite3_bind_double(statement, index, value.get<double>());
    }
    const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    return sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT);
}

Json ColumnValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            return sqlite3_column_int64(statement, column);
        case SQLITE_FLOAT:
            return sqlite3_column_double(statement, column);
        case SQLITE_NULL:
            return nullptr;
        default:
            return std::string(
                reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
    }
}

}  // namespace

SqliteDatabase::~SqliteDatabase() {
    sqlite3_close_v2(m_db);
}

Result<std::unique_ptr<SqliteDatabase>> SqliteDatabase::Open(const std::string& path, bool create) {
    sqlite3* handle = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &handle,
                                       SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) |
                                           SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
                                       nullptr);
    std::unique_ptr<SqliteDatabase> db(new SqliteDatabase(handle, path));
    if (opened != SQLITE_OK) {
        return Refused(db->Failure("Cannot open the record database '" + path + "'"));
    }
    sqlite3_busy_timeout(handle, kBusyTimeoutMs);
    // WAL: readers never hold up a writer, and a commit is one append to the log.
    if (Status wal = db->SwitchToWal(); !wal) {
        return Refused(wal.error());
    }
    if (Status sync = db->Execute("PRAGMA synchronous=NORMAL"); !sync) {
        return Refused(sync.error());
    }
    return db;
}

Result<std::vector<Row>> SqliteDatabase::Query(const std::string& sql,
                                               const std::vector<Json>& params) {
    Statement statement;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &statement.handle,
                           nullptr) != SQLITE_OK) {
        return Refused(Failure("'" + m_path + "'"));
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (Bind(statement.handle, static_cast<int>(i + 1), params[i]) != SQLITE_OK) {
            return Refused(Failure("'" + m_path + "'"));
        }
    }
    std::vector<Row> rows;
    int step = SQLITE_OK;
    while ((step = sqlite3_step(statement.handle)) == SQLITE_ROW) {
        Row& row = rows.emplace_back();
        for (int column = 0; column < sqlite3_column_count(statement.handle); ++column) {
            row.push_back(ColumnValue(statement.handle, column));
        }
    }
    if (step != SQLITE_DONE) {
        return Refused(Failure("'" + m_path + "'"));
    }
    return rows;
}

// Several stations opening a new database at once all switch it: SQLite answers "locked" to
// some of them at once, without its busy wait, so the switch is tried again for as long as
// that wait would have lasted. Once one has switched, the others find it done.
Status SqliteDatabase::SwitchToWal() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        const auto mode = Query("PRAGMA journal_mode=WAL");
        if (mode || (mode.error().Code() & 0xFF) != SQLITE_BUSY ||
            std::chrono::steady_clock::now() >= deadline) {
            return mode ? Status() : Refused(mode.error());
        }
        std::this_thread::sleep_for(kBusyRetry);
    }
}

Status SqliteDatabase::BeginWrite() {
    return Execute("BEGIN IMMEDIATE");
}

Error SqliteDatabase::Failure(const std::string& what) const {
    const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_NOMEM;
    const char* words = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
    return Error(KindOf(code), code, what + ": " + words);
}

}  // namespace quorvale::records
