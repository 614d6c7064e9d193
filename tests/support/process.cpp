// SPDX-License-Identifier: Apache-2.0
#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace quorvale::test {
namespace {

using Clock = std::chrono::steady_clock;

void ReadInto(int& fd, std::string& into) {
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

Process::Process(const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const int failed = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
    if (failed != 0) {
        throw std::runtime_error("cannot start " + args.at(0));
    }
}

Process::~Process() {
    if (!m_reaped) {
        // A chance to clean up first, as a user's Ctrl-C would give it.
        ::kill(m_pid, SIGTERM);
        for (int waited = 0; waited < 1000 && !m_reaped; ++waited) {
            m_reaped = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            ::usleep(m_reaped ? 0 : 1000);
        }
        if (!m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    for (int fd : {m_out, m_err}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void Process::Pump(int timeoutMs) {
    pollfd entries[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    if (::poll(entries, 2, timeoutMs) <= 0) {
        return;
    }
    if (entries[0].revents) {
        ReadInto(m_out, m_result.out);
    }
    if (entries[1].revents) {
        ReadInto(m_err, m_result.err);
    }
}

namespace {

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

bool Process::WaitForOutput(const std::string& text, std::chrono::milliseconds limit,
                            std::size_t times) {
    const auto deadline = Clock::now() + limit;
    while (Occurrences(m_result.out, text) < times) {
        if (Clock::now() >= deadline || (m_out < 0 && m_err < 0)) {
            return false;
        }
        Pump(10);
    }
    return true;
}

std::string Process::FirstLine(std::chrono::milliseconds limit) {
    WaitForOutput("\n", limit);
    return m_result.out.substr(0, m_result.out.find('\n'));
}

void Process::Signal(int signal) const {
    ::kill(m_pid, signal);
}

ProcessResult Process::Wait(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while ((m_out >= 0 || m_err >= 0) && Clock::now() < deadline) {
        Pump(10);
    }
    int status = 0;
    while (!m_reaped) {
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_reaped = true;
            m_result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else if (Clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_reaped = true;
            m_result.exitCode = -1;
        } else {
            ::usleep(1000);
        }
    }
    return m_result;
}

ProcessResult Run(const std::vector<std::string>& args, std::chrono::milliseconds limit) {
    Process process(args);
    return process.Wait(limit);
}

}  // namespace quorvale::test
