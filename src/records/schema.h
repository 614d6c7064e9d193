// SPDX-License-Identifier: Apache-2.0
#pragma once

// The records' schema, one for both engines: a row per download, the record line's fields as
// typed columns under the same names, and a UUID the tool makes as the key. docs/records.md
// describes it; a change to it is a new version here and a note there.
namespace quorvale::records::schema {

inline constexpr int kVersion = 1;

struct Column {
    const char* name;
    const char* sqliteType;
    const char* postgresType;
};

// In the record line's order; `id` is the tool's own.
inline constexpr Column kColumns[] = {
    {"id", "TEXT PRIMARY KEY", "uuid PRIMARY KEY"},
    {"time", "TEXT NOT NULL", "timestamptz NOT NULL"},
    {"port", "TEXT NOT NULL", "text NOT NULL"},
    {"host", "TEXT NOT NULL", "text NOT NULL"},
    {"file", "TEXT NOT NULL", "text NOT NULL"},
    {"file_sha256", "TEXT NOT NULL", "text NOT NULL"},
    {"hardware_code", "INTEGER NOT NULL", "integer NOT NULL"},
    {"version", "INTEGER NOT NULL", "integer NOT NULL"},
    {"start", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"length", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"bootloader_baud", "INTEGER NOT NULL", "integer NOT NULL"},
    {"tool_version", "TEXT NOT NULL", "text NOT NULL"},
    {"job_name", "TEXT", "text"},
    {"job_sha256", "TEXT", "text"},
    {"signed_by", "TEXT", "text"},
    {"outcome", "TEXT NOT NULL", "text NOT NULL"},
    {"seconds", "REAL NOT NULL", "double precision NOT NULL"},
    {"bytes_per_second", "INTEGER NOT NULL", "bigint NOT NULL"},
    {"failure_kind", "TEXT", "text"},
    {"message", "TEXT", "text"},
};

inline constexpr char kTable[] = "downloads";
inline constexpr char kVersionTable[] =
    "CREATE TABLE IF NOT EXISTS quorvale_schema (version integer NOT NULL)";
inline constexpr char kReadVersion[] = "SELECT max(version) FROM quorvale_schema";
inline constexpr char kWriteVersion[] = "INSERT INTO quorvale_schema (version) VALUES ($1)";
// What `records` asks by: a time range, a hardware code and version, a host. The yield's two
// passes each read one index that holds every column they need (hardware first, so that it
// serves a question by hardware code and version too), never the rows themselves.
inline constexpr const char* kIndexes[] = {
    "CREATE INDEX IF NOT EXISTS downloads_time ON downloads (time)",
    "CREATE INDEX IF NOT EXISTS downloads_host ON downloads (host, port)",
    "CREATE INDEX IF NOT EXISTS downloads_yield ON downloads "
    "(hardware_code, version, host, port, outcome, failure_kind, time)",
    "CREATE INDEX IF NOT EXISTS downloads_seconds ON downloads (outcome, seconds, time)",
};

inline constexpr char kNewerSchema[] =
    "The records in %s have schema version %lld; this quorvale knows version %d and older: "
    "use a newer quorvale";

}  // namespace quorvale::records::schema
