// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/error.h"
#include "production/json_line.h"

namespace quorvale {

// Where each download's record goes: a JSON Lines file, an SQLite database, or a PostgreSQL
// server through a local spool. The slots of a run write from their own threads at once.
class RecordTarget {
public:
    virtual ~RecordTarget() = default;
    // Keeps one record (the record line's fields); a refusal means it was not kept.
    virtual Status Write(const Json& record) = 0;
    // How many records are kept here waiting to be sent on; 0 where each is stored at once.
    virtual std::size_t Waiting() const { return 0; }
    // Has `changed` called, from any thread, each time Waiting() or Problem() may have
    // changed: a record kept to be sent, records sent, or the server refusing. Once replaced
    // (by nothing, say), the one before is no longer being called.
    virtual void WatchWaiting(std::function<void()> changed) { (void)changed; }
    // Why records wait, in one line, when their server refused them last; empty otherwise.
    virtual std::string Problem() const { return {}; }
    // Ends the writing: what waits to be sent goes now if it can within a moment, and the rest
    // stays for a later start or `quorvale records push`. Waiting() and Problem() then say what
    // stayed. Done by the destructor too. False when a send to a server that does not answer
    // is still under way on a thread of its own: a process that ends then should end at once
    // (std::_Exit, stdio flushed first), since its libraries' exit handlers would free what that
    // thread uses.
    virtual bool Close() { return true; }
};

enum class RecordEngine { JsonLines, Sqlite, Postgresql };

// What `--record` names: "sqlite:PATH", a PostgreSQL URI ("postgresql://..." or
// "postgres://..."), anything else a JSON Lines file.
struct RecordWhere {
    RecordEngine engine = RecordEngine::JsonLines;
    // The file's path, or the server's URI.
    std::string location;
};
RecordWhere ParseRecordWhere(const std::string& where);

// The target as a screen may show it: a password in a server's URI masked.
std::string RecordShown(const std::string& where);

// Opens a target as `--record` names it: the file or database is created when missing, the
// database's schema checked. For a server, records wait in the spool until it takes them.
Result<std::unique_ptr<RecordTarget>> OpenRecordTarget(const std::string& where);

// What a push of the spool came to.
struct PushCount {
    std::size_t sent = 0;
    std::size_t waiting = 0;
    // Why a server's records still wait, one line per server that refused.
    std::vector<std::string> problems;
};
// Sends every spooled record to its server now, each server's in order, up to its first
// refusal.
Result<PushCount> PushSpool();

}  // namespace quorvale
