// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace quorvale {

// Changes posted from any thread, to be run in the order posted on the dialog's own thread,
// for a window whose toolkit has no queue of its own for them.
class PostedChanges {
public:
    void Add(std::function<void()> change) {
        const std::lock_guard lock(m_mutex);
        m_changes.push_back(std::move(change));
    }

    // Runs every change posted so far, and any posted meanwhile; on the dialog's thread.
    void RunAll() {
        for (;;) {
            std::function<void()> change;
            {
                const std::lock_guard lock(m_mutex);
                if (m_changes.empty()) {
                    return;
                }
                change = std::move(m_changes.front());
                m_changes.pop_front();
            }
            change();
        }
    }

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_changes;
};

}  // namespace quorvale
