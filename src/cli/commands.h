// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/pack.h"
#include "link/port_handle.h"
#include "production/ending_signals.h"

namespace quorvale::cli {

// Exit codes that scripts rely on.
enum ExitCode : int {
    ExitSuccess = 0,
    ExitFailure = 1,  // the download failed
    ExitUsage = 2,    // bad arguments or a rejected file: nothing was sent
    ExitCancelled = 130,
};

struct InfoOptions {
    std::string file;
    // The header as one JSON object, named as the download's `start` event names it.
    bool json = false;
};

struct DownloadOptions {
    // The firmware file, or the signed job that carries it and the line settings.
    std::string file;
    std::optional<std::string> job;
    std::vector<std::string> trust;
    bool lineOptionsGiven = false;
    // One port, or several for a gang download: one independent download on each at once.
    std::vector<std::string> ports;
    LineSettings line{9600, 8, Parity::None, StopBits::One};
    // JSON Lines events on standard output in place of the human reports.
    bool json = false;
    // A line appended to this file for each download that ends.
    std::optional<std::string> recordFile;
    // Every byte on each port, "-" for standard error.
    std::optional<std::string> traceFile;
    // A port that isn't there yet is waited for; with `repeat`, each controller plugged in
    // after the last is downloaded to as well.
    bool wait = false;
    bool repeat = false;
    std::optional<double> waitTimeoutSeconds;
};

struct KeyNewOptions {
    std::string keyFile;
    std::string comment;
};

struct JobMakeOptions {
    std::string firmware;
    std::string jobFile;
    std::string keyFile;
    std::optional<std::string> name;
    LineSettings line{9600, 8, Parity::None, StopBits::One};
};

struct JobShowOptions {
    std::string jobFile;
    std::vector<std::string> trust;
};

// `records SOURCE`: the yield of the records in a JSON Lines file, sqlite:PATH or a
// PostgreSQL URI, between two times.
struct RecordsOptions {
    std::string source;
    std::optional<std::string> since;
    std::optional<std::string> until;
    bool json = false;
};

struct PortsOptions {
    bool json = false;
};

struct PackOptions {
    std::string input;
    std::string output;
    PackSettings settings;
};

struct SimulateOptions {
    std::uint32_t hardwareCode = 0;
    LineSettings application{9600, 8, Parity::None, StopBits::One};
    std::optional<std::uint32_t> bootloaderBaud;
    bool silent = false;
    std::uint32_t answerFromAttempt = 1;
    bool refuseVersion = false;
    std::optional<std::uint32_t> refuseBlockAt;
    std::vector<std::uint32_t> dropReplies;
    std::vector<std::uint32_t> corruptReplies;
    std::vector<std::uint32_t> noisyReplies;
    std::vector<std::uint32_t> delayedReplies;
    std::uint32_t replyDelayMs = 900;
    bool paced = false;
    std::uint32_t flashWriteDelayUs = 0;
    std::string flashOut;
    std::string wireOut;
    std::uint32_t adapterLatencyMs = 0;
    // A symbolic link to the terminal, there while the simulator runs.
    std::string link;
};

int RunInfo(const InfoOptions& options);
int RunDownload(const DownloadOptions& options, EndingSignals& signals);
int RunPack(const PackOptions& options);
int RunKeyNew(const KeyNewOptions& options);
int RunJobMake(const JobMakeOptions& options);
int RunJobShow(const JobShowOptions& options);
int RunSimulate(const SimulateOptions& options, EndingSignals& signals);
int RunPorts(const PortsOptions& options);
int RunRecords(const RecordsOptions& options);
// Sends the spool of records for servers now; exit 1 while some still wait.
int RunRecordsPush();

// Loads a firmware file as the dialog's file panel does; on a rejection writes the panel's
// message to stderr and answers nothing.
std::unique_ptr<FirmwareImage> LoadFirmwareOrSayWhy(const std::string& file);

}  // namespace quorvale::cli
