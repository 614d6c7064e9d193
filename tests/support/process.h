// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quorvale::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not end in time (it is then killed)
    std::string out;
    std::string err;
};

// A child process with its standard output and error captured and no standard input.
class Process {
public:
    explicit Process(const std::vector<std::string>& args);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads output until stdout holds `text` (`times` times); answers whether it does within
    // `limit`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit,
                       std::size_t times = 1);
    // The first line of stdout, waiting for it at most `limit`.
    std::string FirstLine(std::chrono::milliseconds limit);
    void Signal(int signal) const;
    // Waits for the exit, at most `limit`, and answers everything the process wrote.
    ProcessResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(30));

private:
    void Pump(int timeoutMs);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    ProcessResult m_result;
    bool m_reaped = false;
};

// Runs a command to its end.
ProcessResult Run(const std::vector<std::string>& args,
                  std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace quorvale::test
