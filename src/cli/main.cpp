// SPDX-License-Identifier: Apache-2.0
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "download/texts.h"
#include "production/ending_signals.h"
#include "settings/line_options.h"
#include "settings/number.h"

namespace quorvale::cli {
namespace {

struct Commands {
    InfoOptions info;
    DownloadOptions download;
    PackOptions pack;
    PortsOptions ports;
    RecordsOptions records;
    KeyNewOptions keyNew;
    JobMakeOptions jobMake;
    JobShowOptions jobShow;
    SimulateOptions simulate;
    std::uint32_t bootloaderBaud = 0;
    std::uint32_t refuseBlockAt = 0;
};

void AddInfo(CLI::App& app, Commands& c) {
    auto* info = app.add_subcommand("info", "Show the header of a firmware file");
    info->add_option("FILE", c.info.file, "Firmware file")->required();
    info->add_flag("--json", c.info.json, "One JSON object: the header and the file's SHA-256");
}

void AddDownload(CLI::App& app, Commands& c) {
    auto* download = app.add_subcommand("download", "Download a firmware file to a controller");
    download->add_option("FILE", c.download.file, "Firmware file (or give --job)");
    download
        ->add_option("--port", c.download.ports,
                     "Serial port, such as /dev/ttyUSB0; repeat it to flash several at once")
        ->required();
    AddLineOptions(*download, c.download.line, "");
    DownloadOptions& o = c.download;
    download->add_option("--job", o.job,
                         "A signed job: its firmware and line settings in place of FILE and "
                         "the line options (docs/jobs.md)");
    download->add_option("--trust", o.trust,
                         "A public key whose jobs are taken (repeat it for several)");
    download->add_flag("--json", o.json,
                       "JSON Lines events on standard output (docs/json-events.md)");
    download->add_option("--record", o.recordFile,
                         "Record each download that ends: a JSON Lines file, sqlite:PATH or a "
                         "postgresql:// URI (docs/records.md)");
    download->add_option("--trace", o.traceFile,
                         "Write every byte sent and received to this file ('-': standard error)");
    download->add_flag("--wait", o.wait, "Wait for a port that is not there yet");
    download->add_flag("--repeat", o.repeat,
                       "After each download wait for the port to go and come back, and download "
                       "again, until Ctrl-C (implies --wait)");
    download
        ->add_option("--wait-timeout", o.waitTimeoutSeconds,
                     "Give up when a port has not first appeared after this many seconds (implies "
                     "--wait)")
        ->check(CLI::Range(0.001, 31536000.0));
}

void AddKeysAndJobs(CLI::App& app, Commands& c) {
    auto* key = app.add_subcommand("key", "Signing keys for jobs");
    key->require_subcommand(1);
    auto* keyNew = key->add_subcommand(
        "new",
        "Make an ECDSA P-256 key pair: the private key in KEYFILE, the public in KEYFILE.pub");
    keyNew->add_option("KEYFILE", c.keyNew.keyFile, "Private key file (never overwritten)")
        ->required();
    keyNew->add_option("--comment", c.keyNew.comment, "Said after the public key");

    auto* job = app.add_subcommand("job", "Signed jobs: a firmware file and its line settings");
    job->require_subcommand(1);
    auto* make = job->add_subcommand("make", "Sign a firmware file and its line settings");
    make->add_option("FIRMWARE", c.jobMake.firmware, "Firmware file")->required();
    make->add_option("JOBFILE", c.jobMake.jobFile, "The job to write")->required();
    make->add_option("--key", c.jobMake.keyFile, "Private key file")->required();
    make->add_option("--name", c.jobMake.name, "The job's name (default: the firmware's)");
    AddLineOptions(*make, c.jobMake.line, "");
    auto* show = job->add_subcommand("show", "What a job holds, and whether it is trusted");
    show->add_option("JOBFILE", c.jobShow.jobFile, "Job file")->required();
    show->add_option("--trust", c.jobShow.trust, "A public key to check the signature against");
}

void AddPack(CLI::App& app, Commands& c) {
    auto* pack = app.add_subcommand(
        "pack", "Make a firmware file from raw binary, Intel HEX, S-records or an ELF executable");
    pack->add_option("INPUT", c.pack.input,
                     "Image data, recognised by content: raw binary (at most 64 KiB), Intel HEX, "
                     "S-records or ELF")
        ->required();
    pack->add_option("OUTPUT", c.pack.output, "Firmware file to write")->required();
    const auto number = Number(0, UINT32_MAX);
    pack->add_option("--baud", c.pack.settings.baudRate, "Bootloader baud rate, 1 to 65535")
        ->required()
        ->transform(number);
    pack->add_option("--start", c.pack.settings.startAddress,
                     "Start address, a multiple of 256 (raw binary needs it; otherwise the "
                     "lowest address rounded down)")
        ->transform(number);
    pack->add_option("--base", c.pack.settings.base,
                     "Subtracted from every address of HEX, S-record and ELF input (default 0)")
        ->transform(Number(0, UINT32_MAX));
    pack->add_option("--hardware", c.pack.settings.hardwareCode, "Hardware code, 0 to 255")
        ->required()
        ->transform(number);
    pack->add_option("--version", c.pack.settings.version, "Version number, 0 to 255")
        ->required()
        ->transform(number);
}

void AddPorts(CLI::App& app, Commands& c) {
    auto* ports =
        app.add_subcommand("ports", "List the serial ports: port name, tab, friendly name");
    ports->add_flag("--json", c.ports.json, "A JSON array with what is known of each port");
}

void AddRecords(CLI::App& app, Commands& c) {
    auto* records = app.add_subcommand(
        "records",
        "The yield of the records: totals, per hardware and version, per host and "
        "port, failure kinds, and the seconds a download took");
    records->add_option("SOURCE", c.records.source,
                        "A JSON Lines record file, sqlite:PATH or a postgresql:// URI");
    records->add_option("--since", c.records.since,
                        "Only records from this time (UTC: 2026-12-10 or 2026-12-10T09:14)");
    records->add_option("--until", c.records.until, "Only records before this time (UTC)");
    records->add_flag("--json", c.records.json, "The report as one JSON object");
    records->add_subcommand("push",
                            "Send the records waiting in the spool to their servers now, and say "
                            "how many were sent and how many wait");
    // Either a source or push, not both.
    records->require_subcommand(0, 1);
}

[[maybe_unused]] CLI::App* AddSimulate(CLI::App& app, Commands& c) {
    auto* simulate = app.add_subcommand(
        "simulate", "Run a simulated controller on a pseudo-terminal until interrupted");
    SimulateOptions& o = c.simulate;
    const auto number = Number(0, UINT32_MAX);
    simulate->add_option("--hardware", o.hardwareCode, "Hardware code it reports (default 0)")
        ->transform(Number(0, 255));
    AddLineOptions(*simulate, o.application, "app-");
    simulate->add_option("--boot-baud", c.bootloaderBaud, "The bootloader's rate (default: any)")
        ->transform(Number(1, UINT32_MAX));
    simulate->add_flag("--silent", o.silent, "The bootloader never answers");
    simulate
        ->add_option("--answer-from-attempt", o.answerFromAttempt,
                     "Answer the hardware code only from this hand-over on")
        ->transform(Number(1, UINT32_MAX));
    simulate->add_flag("--refuse-version", o.refuseVersion, "Echo another version number");
    simulate->add_option("--refuse-block", c.refuseBlockAt, "Echo another address for this block")
        ->transform(Number(0, 65535));
    simulate->add_option("--drop-reply", o.dropReplies, "Never send reply N (from 0)")
        ->transform(number);
    simulate->add_option("--corrupt-reply", o.corruptReplies, "Spoil reply N's checksum")
        ->transform(number);
    simulate->add_option("--noise-reply", o.noisyReplies, "Send stray bytes before reply N")
        ->transform(number);
    simulate->add_option("--delay-reply", o.delayedReplies, "Send reply N late")->transform(number);
    simulate->add_option("--reply-delay", o.replyDelayMs, "How late, in ms (default 900)")
        ->transform(number);
    simulate->add_flag("--paced", o.paced, "Run the line at the speed of its settings");
    simulate
        ->add_option("--flash-write-delay", o.flashWriteDelayUs,
                     "Microseconds a block takes to store before its reply")
        ->transform(number);
    simulate->add_option(
        "--wire-out", o.wireOut,
        "Write every byte received, a line per change of line settings, after each download");
    simulate->add_option("--flash-out", o.flashOut,
                         "Write the 64 KiB flash here after each download");
    simulate
        ->add_option("--adapter-latency", o.adapterLatencyMs,
                     "Milliseconds each reply is held, as by a USB adapter's latency timer")
        ->transform(Number(0, 1000));
    simulate->add_option("--link", o.link,
                         "Make this symbolic link to the terminal while the simulator runs");
    return simulate;
}

}  // namespace
}  // namespace quorvale::cli

int main(int argc, char** argv) {
    using namespace quorvale::cli;
    // Before any thread starts, so that every thread inherits them.
    quorvale::EndingSignals signals;

    CLI::App app("Quorvale firmware download tool", "quorvale");
    app.set_version_flag("--version", std::string("quorvale ") + QUORVALE_VERSION);
    app.require_subcommand(1);
    Commands c;
    AddInfo(app, c);
    AddDownload(app, c);
    AddPack(app, c);
    AddPorts(app, c);
    AddKeysAndJobs(app, c);
    AddRecords(app, c);
#ifndef _WIN32
    // The simulated controller lives on a pseudo-terminal: Linux only.
    CLI::App* simulate = AddSimulate(app, c);
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitSuccess : ExitUsage;
    }

    if (app.got_subcommand("info")) {
        return RunInfo(c.info);
    }
    if (auto* download = app.get_subcommand("download"); download->parsed()) {
        for (const char* option : {"--baud", "--data-bits", "--parity", "--stop-bits"}) {
            c.download.lineOptionsGiven = c.download.lineOptionsGiven || download->count(option);
        }
        c.download.wait =
            c.download.wait || c.download.repeat || c.download.waitTimeoutSeconds.has_value();
        return RunDownload(c.download, signals);
    }
    if (app.got_subcommand("pack")) {
        return RunPack(c.pack);
    }
    if (app.got_subcommand("ports")) {
        return RunPorts(c.ports);
    }
    if (auto* records = app.get_subcommand("records"); records->parsed()) {
        if (records->get_subcommand("push")->parsed()) {
            return RunRecordsPush();
        }
        if (c.records.source.empty()) {
            std::fprintf(stderr, "quorvale records: give a SOURCE, or push\n");
            return ExitUsage;
        }
        return RunRecords(c.records);
    }
    if (auto* key = app.get_subcommand("key"); key->parsed()) {
        return RunKeyNew(c.keyNew);
    }
    if (auto* job = app.get_subcommand("job"); job->parsed()) {
        return job->get_subcommand("make")->parsed() ? RunJobMake(c.jobMake)
                                                     : RunJobShow(c.jobShow);
    }
#ifndef _WIN32
    if (simulate->count("--boot-baud")) {
        c.simulate.bootloaderBaud = c.bootloaderBaud;
    }
    if (simulate->count("--refuse-block")) {
        c.simulate.refuseBlockAt = c.refuseBlockAt;
    }
    return RunSimulate(c.simulate, signals);
#else
    return ExitUsage;
#endif
}
