// SPDX-License-Identifier: Apache-2.0
#include "records/postgres_database.h"

namespace quorvale::records {
namespace {

// A server that does not answer is given this long before the record waits in the spool
// for the next try; a URI's own connect_timeout wins.
constexpr char kConnectTimeoutSeconds[] = "5";
// Any number of the tool's own, the same in every process: the schema's creation is one at a
// time across stations.
constexpr char kSchemaLock[] = "SELECT pg_advisory_xact_lock(7240851)";

// Frees a result however the query ends.
struct Answer {
    const LibPq& pq;
    PGresult* result;
    ~Answer() { pq.clear(result); }
};

std::string Trimmed(std::string words) {
    while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) {
        words.pop_back();
    }
    return words;
}

// The server's notices ("already exists, skipping") are not failures, and not the user's.
void IgnoreNotice(void*, const char*) {}

std::optional<std::string> TextOf(const Json& value) {
    if (value.is_null()) {
        return std::nullopt;
    }
    return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace

PostgresDatabase::~PostgresDatabase() {
    m_pq->finish(m_connection);
}

Result<std::unique_ptr<PostgresDatabase>> PostgresDatabase::Connect(const std::string& uri) {
    // Earlier keywords give way to what the URI says.
    const char* const keywords[] = {"connect_timeout", "dbname", nullptr};
    const char* const values[] = {kConnectTimeoutSeconds, uri.c_str(), nullptr};
    auto pq = LibPq::Load();
    if (!pq) {
        return Refused(pq.error());
    }
    std::unique_ptr<PostgresDatabase> db(
        new PostgresDatabase(*pq, (*pq)->connectdbParams(keywords, values, 1)));
    if (!db->m_connection || db->m_pq->status(db->m_connection) != CONNECTION_OK) {
        return Refused(db->Failure());
    }
    db->m_pq->setNoticeProcessor(db->m_connection, IgnoreNotice, nullptr);
    return db;
}

Result<std::vector<Row>> PostgresDatabase::Query(const std::string& sql,
                                                 const std::vector<Json>& params) {
    std::vector<std::optional<std::string>> texts;
    std::vector<const char*> values;
    for (const Json& param : params) {
        texts.push_back(TextOf(param));
    }
    for (const auto& text : texts) {
        values.push_back(text ? text->c_str() : nullptr);
    }
    const LibPq& pq = *m_pq;
    const Answer answer{
        pq, pq.execParams(m_connection, sql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0)};
    const ExecStatusType status = pq.resultStatus(answer.result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        return Refused(Failure());
    }
    std::vector<Row> rows;
    for (int r = 0; r < pq.ntuples(answer.result); ++r) {
        Row& row = rows.emplace_back();
        for (int c = 0; c < pq.nfields(answer.result); ++c) {
            row.push_back(pq.getisnull(answer.result, r, c)
                              ? Json()
                              : Json(std::string(pq.getvalue(answer.result, r, c))));
        }
    }
    return rows;
}

Status PostgresDatabase::BeginWrite() {
    if (Status begun = Execute("BEGIN"); !begun) {
        return begun;
    }
    return Execute(kSchemaLock);
}

std::string PostgresDatabase::Name() const {
    // Never the URI itself: it may hold a password.
    return std::string("PostgreSQL database '") + m_pq->db(m_connection) + "' on " +
           m_pq->host(m_connection);
}

Error PostgresDatabase::Failure() const {
    const char* words = m_connection ? m_pq->errorMessage(m_connection) : "out of memory";
    return Error(ErrorKind::Other, 0, "PostgreSQL: " + Trimmed(words));
}

}  // namespace quorvale::records
