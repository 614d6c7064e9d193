// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "records/postgres_database.h"
#include "records/spool.h"
#include "records/targets.h"
#include "records/yield_queries.h"

namespace quorvale::records {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A server that failed is tried again after this, doubled at each further failure up to the
// longest: soon after a short outage, without hammering one that is down for the night.
constexpr auto kFirstRetry = 250ms;
constexpr auto kLongestRetry = 5s;

// Sends one server's spooled records, oldest first, each removed from the spool only once the
// server has committed it: a crash in between sends it again, and the UUID keeps it once.
class Sender {
public:
    Sender(Spool& spool, std::string uri) : m_spool(spool), m_uri(std::move(uri)) {}

    struct Sent {
        std::size_t count = 0;
        std::optional<Error> failure;
    };

    // Until the spool holds none of this server's, or the server fails.
    Sent SendWaiting() {
        Sent sent;
        for (;;) {
            auto next = m_spool.Oldest(m_uri);
            if (!next) {
                sent.failure = next.error();
                return sent;
            }
            if (!*next) {
                return sent;
            }
            if (Status stored = Store(**next); !stored) {
                m_db.reset();
                sent.failure = stored.error();
                return sent;
            }
            if (Status removed = m_spool.Remove((*next)->seq); !removed) {
                sent.failure = removed.error();
                return sent;
            }
            ++sent.count;
        }
    }

private:
    Status Store(const Spool::Entry& entry) {
        if (!m_db) {
            auto db = PostgresDatabase::Connect(m_uri);
            if (!db) {
                return Refused(db.error());
            }
            if (Status ready = PrepareSchema(**db); !ready) {
                return ready;
            }
            m_db = std::move(*db);
        }
        return InsertRecord(*m_db, entry.id, entry.record);
    }

    Spool& m_spool;
    const std::string m_uri;
    std::unique_ptr<PostgresDatabase> m_db;
};

// A download's record goes to the spool, which is local and quick; a thread of its own sends
// it on, so that a server that is slow, down or refusing never holds up a download.
class PostgresTarget final : public RecordTarget {
public:
    PostgresTarget(std::unique_ptr<Spool> spool, const std::string& uri)
        : m_spool(std::move(spool)),
          m_uri(uri),
          m_sender(*m_spool, uri),
          m_thread([this](std::stop_token stop) { Send(stop); }) {}

    ~PostgresTarget() override {
        {
            const std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    Status Write(const Json& record) override {
        if (Status kept = m_spool->Add(m_uri, NewUuid(), record); !kept) {
            return kept;
        }
        {
            const std::lock_guard lock(m_mutex);
            m_due = true;
        }
        m_wake.notify_all();
        Changed();
        return {};
    }

    std::size_t Waiting() const override { return m_spool->Count(m_uri); }

    void WatchWaiting(std::function<void()> changed) override {
        const std::lock_guard lock(m_mutex);
        m_changed = std::move(changed);
    }

private:
    // What is spooled now, from an earlier run too, is sent at once; then each new record,
    // and after a failure again after a pause. On closing, what came since is sent unless
    // the server is failing.
    void Send(std::stop_token) {
        auto pause = Clock::duration::zero();
        for (;;) {
            bool closing = false;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait_until(lock, m_retryAt, [this] { return m_closing || m_due; });
                closing = m_closing;
                if (closing && pause != Clock::duration::zero()) {
                    return;
                }
                m_due = false;
            }
            const Sender::Sent sent = m_sender.SendWaiting();
            if (sent.count) {
                Changed();
            }
            pause = sent.failure ? std::clamp(pause * 2, Clock::duration(kFirstRetry),
                                              Clock::duration(kLongestRetry))
                                 : Clock::duration::zero();
            if (closing) {
                return;
            }
            const std::lock_guard lock(m_mutex);
            m_retryAt = sent.failure ? Clock::now() + pause : Clock::time_point::max();
            m_due = m_due && !sent.failure;
        }
    }

    void Changed() {
        std::function<void()> changed;
        {
            const std::lock_guard lock(m_mutex);
            changed = m_changed;
        }
        if (changed) {
            changed();
        }
    }

    std::unique_ptr<Spool> m_spool;
    const std::string m_uri;
    Sender m_sender;
    std::mutex m_mutex;
    std::function<void()> m_changed;
    std::condition_variable m_wake;
    bool m_due = true;
    bool m_closing = false;
    Clock::time_point m_retryAt = Clock::time_point::max();
    // Last, so that it starts when everything it uses is there.
    std::jthread m_thread;
};

}  // namespace

Result<std::unique_ptr<RecordTarget>> OpenPostgresTarget(const std::string& uri) {
    auto spool = Spool::Open();
    if (!spool) {
        return Refused(spool.error());
    }
    return std::unique_ptr<RecordTarget>(std::make_unique<PostgresTarget>(std::move(*spool), uri));
}

Result<YieldReport> CountPostgresYield(const std::string& uri, const TimeRange& range) {
    auto db = PostgresDatabase::Connect(uri);
    if (!db) {
        return Refused(db.error());
    }
    if (Status known = CheckSchema(**db); !known) {
        return Refused(known.error());
    }
    return CountYield(**db, range);
}

}  // namespace quorvale::records

namespace quorvale {

Result<PushCount> PushSpool() {
    auto spool = records::Spool::Open();
    if (!spool) {
        return Refused(spool.error());
    }
    const auto targets = (*spool)->Targets();
    if (!targets) {
        return Refused(targets.error());
    }
    PushCount count;
    for (const std::string& target : *targets) {
        records::Sender sender(**spool, target);
        const records::Sender::Sent sent = sender.SendWaiting();
        count.sent += sent.count;
        if (sent.failure) {
            count.problems.push_back(sent.failure->Words());
        }
    }
    count.waiting = (*spool)->Count();
    return count;
}

}  // namespace quorvale
