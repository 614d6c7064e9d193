// SPDX-License-Identifier: Apache-2.0
// Records kept in each engine: the same fields as the record line, several writers at once,
// and a schema this tool does not know.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "records/record_target.h"
#include "records/sqlite_database.h"
#include "support/temp_dir.h"

namespace quorvale {
namespace {

using records::SqliteDatabase;

// A record as the slot loop makes it; `job` gives the job's three fields.
Json SampleRecord(const char* outcome, const char* kind, bool job) {
    Json record = {{"time", "2026-12-10T09:14:03.690Z"},
                   {"port", "/dev/ttyUSB0"},
                   {"host", "line-3"},
                   {"file", "image.qvx"},
                   {"file_sha256", std::string(64, 'a')},
                   {"hardware_code", 7},
                   {"version", 3},
                   {"start", 4096},
                   {"length", 65280},
                   {"bootloader_baud", 57600},
                   {"tool_version", "1.0.0"}};
    record["job_name"] = job ? Json("Board 7 v3") : Json(nullptr);
    record["job_sha256"] = job ? Json(std::string(64, 'b')) : Json(nullptr);
    record["signed_by"] = job ? Json("3f0c9a51d2e87b40") : Json(nullptr);
    record.update(Json{{"outcome", outcome}, {"seconds", 13.227}, {"bytes_per_second", 4954}});
    record["failure_kind"] = kind ? Json(kind) : Json(nullptr);
    record["message"] =
        kind ? Json("Incorrect hardware code '9' from port '/dev/ttyUSB0'") : Json();
    return record;
}

// Every row, each as an object of its columns, in the order they were stored.
std::vector<Json> Rows(const std::string& path) {
    auto db = SqliteDatabase::Open(path);
    EXPECT_TRUE(db);
    const auto names = (*db)->Query("SELECT name FROM pragma_table_info('downloads')");
    const auto rows = (*db)->Query("SELECT * FROM downloads ORDER BY rowid");
    EXPECT_TRUE(names && rows);
    std::vector<Json> objects;
    for (const records::Row& row : *rows) {
        Json& object = objects.emplace_back(Json::object());
        for (std::size_t i = 0; i < row.size(); ++i) {
            object[(*names)[i][0].get<std::string>()] = row[i];
        }
    }
    return objects;
}

std::vector<Json> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<Json> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

TEST(RecordWhere, NamesTheEngineByItsPrefix) {
    const struct {
        const char* given;
        RecordEngine engine;
        const char* location;
    } cases[] = {
        {"flashed.jsonl", RecordEngine::JsonLines, "flashed.jsonl"},
        {"/srv/sqlite.jsonl", RecordEngine::JsonLines, "/srv/sqlite.jsonl"},
        {"sqlite:/srv/line.db", RecordEngine::Sqlite, "/srv/line.db"},
        {"sqlite:line.db", RecordEngine::Sqlite, "line.db"},
        {"postgresql://floor/records", RecordEngine::Postgresql, "postgresql://floor/records"},
        {"postgres://u@floor:5433/r", RecordEngine::Postgresql, "postgres://u@floor:5433/r"},
    };
    for (const auto& c : cases) {
        const RecordWhere where = ParseRecordWhere(c.given);
        EXPECT_EQ(where.engine, c.engine) << c.given;
        EXPECT_EQ(where.location, c.location) << c.given;
    }
}

TEST(SqliteRecords, EachRecordIsARowWithTheLineFieldsTypedAndAKeyOfItsOwn) {
    test::TempDir dir;
    const std::string db = dir.File("line.db");
    const std::vector<Json> written = {SampleRecord("completed", nullptr, false),
                                       SampleRecord("failed", "wrong_hardware_code", true)};
    for (const std::string& where : {dir.File("line.jsonl"), "sqlite:" + db}) {
        auto target = OpenRecordTarget(where);
        ASSERT_TRUE(target) << target.error().Words();
        for (const Json& record : written) {
            ASSERT_TRUE((*target)->Write(record));
        }
    }

    const std::vector<Json> lines = Lines(dir.File("line.jsonl"));
    std::vector<Json> rows = Rows(db);
    ASSERT_EQ(rows.size(), written.size());
    std::set<std::string> ids;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string id = rows[i]["id"];
        EXPECT_EQ(id.size(), 36u);
        EXPECT_EQ(id[14], '4') << id;
        ids.insert(id);
        rows[i].erase("id");
        EXPECT_EQ(rows[i], lines[i]);
    }
    EXPECT_EQ(ids.size(), rows.size());
}

TEST(SqliteRecords, SeveralProcessesAtOnceLoseNone) {
    test::TempDir dir;
    const std::string where = "sqlite:" + dir.File("line.db");
    constexpr int kProcesses = 6;
    constexpr int kEach = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Each opens the database as a station starting at the same moment would.
            auto target = OpenRecordTarget(where);
            int kept = 0;
            for (int i = 0; target && i < kEach; ++i) {
                kept += (*target)->Write(SampleRecord("completed", nullptr, false)) ? 1 : 0;
            }
            ::_exit(kept == kEach ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(Rows(dir.File("line.db")).size(), std::size_t{kProcesses * kEach});
}

TEST(SqliteRecords, NewerSchemaIsRefusedAndLeftAlone) {
    test::TempDir dir;
    const std::string path = dir.File("line.db");
    ASSERT_TRUE(OpenRecordTarget("sqlite:" + path));
    {
        auto db = SqliteDatabase::Open(path);
        ASSERT_TRUE(db);
        ASSERT_TRUE((*db)->Execute("INSERT INTO quorvale_schema (version) VALUES (2)"));
    }
    const auto refused = OpenRecordTarget("sqlite:" + path);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().Words().find("schema version 2"), std::string::npos)
        << refused.error().Words();
    EXPECT_NE(refused.error().Words().find(path), std::string::npos);
    EXPECT_EQ(Rows(path).size(), 0u);
}

}  // namespace
}  // namespace quorvale
