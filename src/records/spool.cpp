// SPDX-License-Identifier: Apache-2.0
#include "records/spool.h"

#include <cstdlib>
#include <filesystem>

namespace quorvale::records {
namespace {

constexpr char kCreate[] =
    "CREATE TABLE IF NOT EXISTS spool (seq INTEGER PRIMARY KEY AUTOINCREMENT, "
    "target TEXT NOT NULL, id TEXT NOT NULL, record TEXT NOT NULL)";
// A target's records are counted and taken oldest first; a weekend's backlog stays quick.
constexpr char kIndex[] = "CREATE INDEX IF NOT EXISTS spool_target ON spool (target, seq)";
constexpr char kAdd[] = "INSERT INTO spool (target, id, record) VALUES ($1, $2, $3)";
constexpr char kOldest[] =
    "SELECT seq, id, record FROM spool WHERE target = $1 ORDER BY seq LIMIT 1";
constexpr char kRemove[] = "DELETE FROM spool WHERE seq = $1";
constexpr char kCountOf[] = "SELECT count(*) FROM spool WHERE target = $1";
constexpr char kCountAll[] = "SELECT count(*) FROM spool";
constexpr char kTargets[] = "SELECT target FROM spool GROUP BY target ORDER BY min(seq)";

}  // namespace

std::string SpoolPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::string folder =
        state && *state ? std::string(state) : std::string(home ? home : ".") + "/.local/state";
    return folder + "/quorvale/spool.sqlite";
}

Result<std::unique_ptr<Spool>> Spool::Open() {
    const std::filesystem::path path = SpoolPath();
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    // The spool holds the servers' URIs, a password among them if one was given: the user's
    // alone.
    if (!error) {
        std::filesystem::permissions(path.parent_path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, error);
    }
    if (error) {
        return Refused(Error::FromSystem(error.value(), "Cannot make the record spool's folder '" +
                                                            path.parent_path().string() + "'"));
    }
    auto db = SqliteDatabase::Open(path.string());
    if (!db) {
        return Refused(db.error());
    }
    for (const char* sql : {kCreate, kIndex}) {
        if (Status made = (*db)->Execute(sql); !made) {
            return Refused(made.error());
        }
    }
    return std::unique_ptr<Spool>(new Spool(std::move(*db)));
}

Status Spool::Add(const std::string& target, const std::string& id, const Json& record) {
    const std::lock_guard lock(m_mutex);
    return m_db->Execute(kAdd, {target, id, JsonLine(record)});
}

Result<std::optional<Spool::Entry>> Spool::Oldest(const std::string& target) {
    const std::lock_guard lock(m_mutex);
    const auto rows = m_db->Query(kOldest, {target});
    if (!rows) {
        return Refused(rows.error());
    }
    if (rows->empty()) {
        return std::optional<Entry>();
    }
    const Row& row = rows->front();
    return std::optional<Entry>(Entry{IntegerOf(row[0]), row[1].get<std::string>(),
                                      Json::parse(row[2].get<std::string>(), nullptr, false)});
}

Status Spool::Remove(std::int64_t seq) {
    const std::lock_guard lock(m_mutex);
    return m_db->Execute(kRemove, {seq});
}

std::size_t Spool::CountOf(const std::string& sql, const std::vector<Json>& params) {
    const std::lock_guard lock(m_mutex);
    const auto rows = m_db->Query(sql, params);
    return rows && !rows->empty() ? static_cast<std::size_t>(IntegerOf(rows->front()[0])) : 0;
}

std::size_t Spool::Count(const std::string& target) {
    return CountOf(kCountOf, {target});
}

std::size_t Spool::Count() {
    return CountOf(kCountAll, {});
}

Result<std::vector<std::string>> Spool::Targets() {
    const std::lock_guard lock(m_mutex);
    const auto rows = m_db->Query(kTargets);
    if (!rows) {
        return Refused(rows.error());
    }
    std::vector<std::string> targets;
    for (const Row& row : *rows) {
        targets.push_back(row[0].get<std::string>());
    }
    return targets;
}

}  // namespace quorvale::records
