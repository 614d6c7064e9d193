// SPDX-License-Identifier: Apache-2.0
// Measures what records cost: a gang of eight downloads recording nowhere, to SQLite and to
// PostgreSQL (through the local spool), in alternating runs; and `quorvale records` over a
// million rows on each engine. Rewrites the records' part of bench/RESULTS.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "records/postgres_database.h"
#include "records/postgres_server.h"
#include "records/record_target.h"
#include "records/sqlite_database.h"
#include "support.h"

namespace quorvale::bench {
namespace {

constexpr int kGang = 8;
constexpr int kGangRuns = 3;
constexpr long long kRows = 1000000;
constexpr int kReportRuns = 5;
// A year of a floor's downloads, one every 31.5 s, ending in December; the last month is
// the range a line lead asks about most.
constexpr char kLastMonth[] = "2026-12-01";

// A million plausible rows in one statement: ten stations of eight ports, five hardware codes
// in four versions each, one download in fifty failing in one of three ways, one in a
// thousand cancelled, and 11.5 to 12.5 s a download kept to the millisecond. Only the key,
// the time and the random seconds are written differently by the two engines.
std::string FillSql(const std::string& from, const char* id, const char* time,
                    const char* seconds) {
    return std::string("INSERT INTO downloads SELECT ") + id + ", " + time +
           ", '/dev/ttyUSB' || (i % 8), 'station-' || (i % 10), 'line.qvx', 'ab12', i % 5, "
           "10 + (i / 7) % 4, 4096, 65536, 57600, '1.0.0', NULL, NULL, NULL, "
           "CASE WHEN i % 50 = 0 THEN 'failed' WHEN i % 1000 = 1 THEN 'cancelled' "
           "ELSE 'completed' END, " +
           seconds +
           ", 5600, CASE WHEN i % 50 = 0 THEN (CASE i % 3 WHEN 0 THEN 'no_hardware_code' "
           "WHEN 1 THEN 'wrong_hardware_code' ELSE 'port_lost' END) END, NULL " +
           from;
}

const std::string kSqliteFill =
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
    std::to_string(kRows) + ") " +
    FillSql("FROM n", "lower(hex(randomblob(16)))",
            "strftime('%Y-%m-%dT%H:%M:%fZ', '2026-01-01', '+' || (i * 31.5) || ' seconds')",
            "11.5 + (abs(random()) % 1000) / 1000.0");
const std::string kPostgresFill =
    FillSql("FROM generate_series(1, " + std::to_string(kRows) + ") AS i", "gen_random_uuid()",
            "timestamptz '2026-01-01 00:00:00Z' + i * interval '31.5 seconds'",
            "11.5 + floor(random() * 1000) / 1000.0");

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "records bench: %s\n", what.c_str());
    std::exit(1);
}

void Check(const Status& status, const char* what) {
    if (!status) {
        Fail(std::string(what) + ": " + status.error().Words());
    }
}

long long CountRows(records::Database& db) {
    const auto rows = db.Query("SELECT count(*) FROM downloads");
    return rows ? records::IntegerOf(rows->front().front()) : -1;
}

// A gang flashed by one command, recording as `extra` says.
ToolRun RunRecordingGang(const std::string& file, const std::vector<std::string>& extra) {
    const GangRun run = RunGang(file, kGang, extra);
    if (!run.ok) {
        Fail("a gang download failed");
    }
    return run.tool;
}

// The report as a technician runs it: a process of its own, after one run that warms the
// cache, the median of the rest.
double TimeReport(const std::vector<std::string>& extra) {
    std::vector<std::string> args{QUORVALE_EXE, "records"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<double> times;
    for (int i = 0; i <= kReportRuns; ++i) {
        const ToolRun run = RunTool(args);
        if (run.exitCode != 0) {
            Fail("quorvale records " + extra.front() + " failed");
        }
        if (i > 0) {
            times.push_back(run.wall);
        }
    }
    return Percentile(times, 0.5);
}

void FillSqlite(const std::string& path) {
    // The tool's own target makes the database and its schema, as a station's first record
    // does.
    if (!OpenRecordTarget("sqlite:" + path)) {
        Fail("cannot make " + path);
    }
    auto db = records::SqliteDatabase::Open(path);
    if (!db) {
        Fail(db.error().Words());
    }
    Check((*db)->BeginWrite(), "begin");
    Check((*db)->Execute(kSqliteFill), "fill SQLite");
    Check((*db)->Execute("COMMIT"), "commit");
}

// A server keeps its table's statistics and visibility map up to date by itself
// (autovacuum) soon after a load this size; done here at once, so that every run measures
// the same server.
void FillPostgres(const std::string& uri) {
    auto db = records::PostgresDatabase::Connect(uri);
    if (!db) {
        Fail(db.error().Words());
    }
    Check(records::PrepareSchema(**db), "schema");
    Check((*db)->Execute("TRUNCATE downloads"), "empty");
    Check((*db)->Execute(kPostgresFill), "fill PostgreSQL");
    Check((*db)->Execute("VACUUM ANALYZE downloads"), "vacuum");
}

struct GangTimes {
    std::vector<double> none;
    std::vector<double> sqlite;
    std::vector<double> postgres;
};

// Runs alternate and medians are compared: a paced gang moves by tens of milliseconds with
// the machine's other work.
GangTimes MeasureGangs(const std::string& folder, const std::string& uri) {
    const Image image = MakeImage(folder, 57600, 65536);
    const std::string sqlite = folder + "/line.db";
    GangTimes times;
    for (int run = 0; run < kGangRuns; ++run) {
        times.none.push_back(RunRecordingGang(image.path, {}).wall);
        times.sqlite.push_back(RunRecordingGang(image.path, {"--record", "sqlite:" + sqlite}).wall);
        times.postgres.push_back(RunRecordingGang(image.path, {"--record", uri}).wall);
    }
    auto local = records::SqliteDatabase::Open(sqlite, false);
    auto server = records::PostgresDatabase::Connect(uri);
    const long long expected = kGang * kGangRuns;
    if (!local || CountRows(**local) != expected || !server || CountRows(**server) != expected) {
        Fail("the gangs' records did not all arrive");
    }
    return times;
}

std::string Delta(double with, double without) {
    return Fixed(with, 3) + " s (" + (with >= without ? "+" : "") + Fixed(with - without, 3) +
           " s)";
}

}  // namespace
}  // namespace quorvale::bench

int main() {
    using namespace quorvale;
    using namespace quorvale::bench;
    test::PostgresServer server;
    if (!server.Problem().empty()) {
        Fail(server.Problem());
    }
    char folderTemplate[] = "/tmp/quorvale-records-bench-XXXXXX";
    const std::string folder = ::mkdtemp(folderTemplate);
    // The spool of this run's own, not the user's.
    ::setenv("XDG_STATE_HOME", folder.c_str(), 1);

    const GangTimes gangs = MeasureGangs(folder, server.Uri());
    const double none = Percentile(gangs.none, 0.5);
    const double sqlite = Percentile(gangs.sqlite, 0.5);
    const double postgres = Percentile(gangs.postgres, 0.5);
    std::printf("gang of %d: none %.3f s, SQLite %.3f s, PostgreSQL %.3f s\n", kGang, none, sqlite,
                postgres);

    const std::string million = folder + "/million.db";
    FillSqlite(million);
    FillPostgres(server.Uri());
    const std::string local = "sqlite:" + million;
    const double sqliteAll = TimeReport({local});
    const double sqliteMonth = TimeReport({local, "--since", kLastMonth});
    const double postgresAll = TimeReport({server.Uri()});
    const double postgresMonth = TimeReport({server.Uri(), "--since", kLastMonth});
    std::printf(
        "records over %lld rows: SQLite %.3f s (month %.3f s), PostgreSQL %.3f s "
        "(month %.3f s)\n",
        kRows, sqliteAll, sqliteMonth, postgresAll, postgresMonth);

    std::ostringstream text;
    text << kRecordsHeading << "\n\n"
         << "Command: `scripts/bench-records.sh` (the `quorvale_records_bench` program of "
            "`bench/`), on the machine above.\n\n"
         << "A gang of " << kGang
         << " paced controllers at 57600 baud (64 KiB each) is flashed by one `quorvale "
            "download`, recording nowhere, to SQLite and to a PostgreSQL server (through the "
            "local spool), in "
         << kGangRuns
         << " alternating runs of each; the medians are compared. The server is Debian's, "
            "started by the benchmark in a temporary folder on a Unix socket, without fsync. "
            "`quorvale records` runs as a process of its own over "
         << kRows
         << " rows (a year of ten stations: five hardware codes in four versions, one download "
            "in fifty failed), after one run that warms the cache, the median of "
         << kReportRuns
         << " runs; the server's table vacuumed and analysed after its load, as autovacuum "
            "does.\n\n"
         << "| measurement | time |\n|---|---|\n"
         << "| gang of " << kGang << " at 57600 baud, no record | " << Fixed(none, 3) << " s |\n"
         << "| gang of " << kGang << " at 57600 baud, `--record sqlite:PATH` | "
         << Delta(sqlite, none) << " |\n"
         << "| gang of " << kGang << " at 57600 baud, `--record postgresql://...` | "
         << Delta(postgres, none) << " |\n"
         << "| `quorvale records` over " << kRows << " rows, SQLite | " << Fixed(sqliteAll, 3)
         << " s |\n"
         << "| `quorvale records --since " << kLastMonth << "` (a month), SQLite | "
         << Fixed(sqliteMonth, 3) << " s |\n"
         << "| `quorvale records` over " << kRows << " rows, PostgreSQL | " << Fixed(postgresAll, 3)
         << " s |\n"
         << "| `quorvale records --since " << kLastMonth << "` (a month), PostgreSQL | "
         << Fixed(postgresMonth, 3) << " s |\n";
    std::printf("\n%s", text.str().c_str());
    WriteResultsPart(ResultsPart::Records, text.str());
    std::filesystem::remove_all(folder);
    return 0;
}
