// SPDX-License-Identifier: Apache-2.0
#pragma once

// Records as the slot loop makes them, for the tests of where they go and what is read back.
#include <string>
#include <vector>

#include "production/json_line.h"

namespace quorvale::test {

// A record; `job` gives the job's three fields.
inline Json SampleRecord(const char* outcome, const char* kind, bool job) {
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

// A morning on a small line: two hosts, two boards, every outcome.
inline std::vector<Json> Morning() {
    const struct {
        const char* time;
        int hardware, version;
        const char *host, *port, *outcome, *kind;
        double seconds;
    } rows[] = {
        {"09:00", 7, 12, "a", "/dev/s1", "completed", nullptr, 10.0},
        {"09:01", 7, 12, "a", "/dev/s2", "completed", nullptr, 12.0},
        {"09:02", 7, 12, "b", "/dev/s1", "failed", "wrong_hardware_code", 1.0},
        {"09:03", 7, 13, "b", "/dev/s1", "completed", nullptr, 11.5},
        {"10:00", 9, 1, "a", "/dev/s1", "cancelled", "cancelled", 3.0},
        {"10:01", 7, 12, "a", "/dev/s1", "failed", "port_lost", 2.0},
        {"11:00", 7, 12, "a", "/dev/s2", "failed", "port_lost", 2.0},
    };
    std::vector<Json> records;
    for (const auto& row : rows) {
        Json record = SampleRecord(row.outcome, row.kind, false);
        record["time"] = std::string("2026-12-10T") + row.time + ":00.000Z";
        record["hardware_code"] = row.hardware;
        record["version"] = row.version;
        record["host"] = row.host;
        record["port"] = row.port;
        record["seconds"] = row.seconds;
        records.push_back(record);
    }
    return records;
}

}  // namespace quorvale::test
