// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/sqlite_database.h"

namespace quorvale::records {

// Records for servers, kept on this machine until a server has them: an SQLite database in
// the user's state folder ($XDG_STATE_HOME/quorvale/spool.sqlite, or
// ~/.local/state/quorvale/spool.sqlite), one row per record in the order they were made.
// Threads and processes may share it.
class Spool {
public:
    struct Entry {
        std::int64_t seq = 0;
        std::string id;
        Json record;
    };

    static Result<std::unique_ptr<Spool>> Open();

    Status Add(const std::string& target, const std::string& id, const Json& record);
    // The oldest record for the target, if any.
    Result<std::optional<Entry>> Oldest(const std::string& target);
    Status Remove(std::int64_t seq);
    std::size_t Count(const std::string& target);
    std::size_t Count();
    // Every target with records waiting, the one with the oldest first.
    Result<std::vector<std::string>> Targets();

private:
    explicit Spool(std::unique_ptr<SqliteDatabase> db) : m_db(std::move(db)) {}
    std::size_t CountOf(const std::string& sql, const std::vector<Json>& params);

    std::mutex m_mutex;
    std::unique_ptr<SqliteDatabase> m_db;
};

// Where the spool lives, from the environment.
std::string SpoolPath();

}  // namespace quorvale::records
