// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
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
// How long a closing target waits for its server: enough for a server on the floor's network
// to take a gang's records, short enough that one that hangs is not noticed.
constexpr auto kCloseWait = 500ms;

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

// What the sending thread shares with its target, and keeps alive itself: a target that
// closes waits a moment for the thread and then leaves it to end on its own, so that a server
// that never answers can't hold up the tool's exit.
struct Sending {
    Sending(std::unique_ptr<Spool> spool, const std::string& uri)
        : spool(std::move(spool)), uri(uri), sender(*this->spool, uri) {}

    std::unique_ptr<Spool> spool;
    const std::string uri;
    Sender sender;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    bool due = true;
    bool closing = false;
    bool finished = false;
    Clock::time_point retryAt = Clock::time_point::max();
    // Held while the watcher is called, so that once it is replaced no call to the old one
    // is under way.
    std::mutex watching;
    std::function<void()> changed;
    // The first line of why the server took nothing last time; empty once it takes records.
    std::string problem;
};

void Tell(Sending& sending) {
    const std::lock_guard lock(sending.watching);
    if (sending.changed) {
        sending.changed();
    }
}

// What is spooled now, from an earlier run too, is sent at once; then each new record, and
// after a failure again after a pause. On closing, what came since is sent unless the server
// is failing.
void Send(Sending& sending) {
    auto pause = Clock::duration::zero();
    for (;;) {
        bool closing = false;
        bool told = false;
        {
            std::unique_lock lock(sending.mutex);
            sending.wake.wait_until(lock, sending.retryAt,
                                    [&] { return sending.closing || sending.due; });
            closing = sending.closing;
            if (closing && pause != Clock::duration::zero()) {
                return;
            }
            sending.due = false;
        }
        const Sender::Sent sent = sending.sender.SendWaiting();
        pause = sent.failure ? std::clamp(pause * 2, Clock::duration(kFirstRetry),
                                          Clock::duration(kLongestRetry))
                             : Clock::duration::zero();
        {
            const std::lock_guard lock(sending.mutex);
            const std::string words = sent.failure ? sent.failure->Words() : std::string();
            const std::string problem = words.substr(0, words.find('\n'));
            told = sent.count || problem != sending.problem;
            sending.problem = problem;
            sending.retryAt = sent.failure ? Clock::now() + pause : Clock::time_point::max();
            sending.due = sending.due && !sent.failure;
        }
        if (told) {
            Tell(sending);
        }
        if (closing) {
            return;
        }
    }
}

// A download's record goes to the spool, which is local and quick; a thread of its own sends
// it on, so that a server that is slow, down or refusing never holds up a download.
class PostgresTarget final : public RecordTarget {
public:
    PostgresTarget(std::unique_ptr<Spool> spool, const std::string& uri)
        : m_sending(std::make_shared<Sending>(std::move(spool), uri)),
          m_thread([sending = m_sending] {
              Send(*sending);
              const std::lock_guard lock(sending->mutex);
              sending->finished = true;
              sending->ended.notify_all();
          }) {}

    ~PostgresTarget() override { Close(); }

    Status Write(const Json& record) override {
        if (Status kept = m_sending->spool->Add(m_sending->uri, NewUuid(), record); !kept) {
            return kept;
        }
        {
            const std::lock_guard lock(m_sending->mutex);
            m_sending->due = true;
        }
        m_sending->wake.notify_all();
        Tell(*m_sending);
        return {};
    }

    std::size_t Waiting() const override { return m_sending->spool->Count(m_sending->uri); }

    std::string Problem() const override {
        const std::lock_guard lock(m_sending->mutex);
        return m_sending->problem;
    }

    void WatchWaiting(std::function<void()> changed) override {
        const std::lock_guard lock(m_sending->watching);
        m_sending->changed = std::move(changed);
    }

    // What came since the last send goes now, if the server takes it within a moment; what it
    // doesn't take waits in the spool for the next start or a push.
    bool Close() override {
        if (m_thread.joinable()) {
            EndSending();
        }
        const std::lock_guard lock(m_sending->mutex);
        return m_sending->finished;
    }

private:
    // Joins the thread if it ends in time; otherwise leaves it to end alone.
    void EndSending() {
        WatchWaiting(nullptr);
        bool finished = false;
        {
            std::unique_lock lock(m_sending->mutex);
            m_sending->closing = true;
            m_sending->wake.notify_all();
            finished =
                m_sending->ended.wait_for(lock, kCloseWait, [this] { return m_sending->finished; });
        }
        if (finished) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }

    std::shared_ptr<Sending> m_sending;
    std::thread m_thread;
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
