#pragma once

// The batch's connections: private to the batch check-in and check-out, used only through
// submit(), cancel() and wait().

#include "transfer/FtpClient.h"
#include "transfer/TransferRunner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velda {

using Task = std::function<TransferResult(FtpClient& client, const TransferProgress& progress)>;

// Tasks handed out in order to the batch's connections. Once a task fails no later one starts
// (unless the work goes on past failures); those already running finish. A task never started has
// ran[k] == 0.
struct Work {
    std::vector<Task> tasks;
    bool stopOnFailure = true;
    std::vector<TransferResult> results;
    std::vector<char> ran;
    int next = 0;   // the next task to hand out
    int stopAt = 0; // no task from here on starts
    int running = 0;
    // Each task's bytes, for the bar: written by the connections without the lock.
    std::unique_ptr<std::atomic<qint64>[]> done, total;
    bool finished() const { return running == 0 && next >= stopAt; }
    bool ok(int k) const { return ran[size_t(k)] && results[size_t(k)].ok; }
};
using WorkPtr = std::shared_ptr<Work>;

// The batch's connections, each on a thread of its own, working through the works in the order they
// were handed in, urgent ones first. They go on moving files while this thread writes rows: one
// group's transfers run while the group before is recorded and committed.
class Lanes final {
public:
    Lanes(std::vector<std::unique_ptr<FtpClient>>& clients, int count, const FtpOptions& options) {
        while (int(clients.size()) < count)
            clients.push_back(std::make_unique<FtpClient>(options));
        for (int j = 0; j < count; ++j)
            m_threads.emplace_back([this, c = clients[size_t(j)].get()] { lane(*c); });
    }
    ~Lanes() {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_closing = true;
            for (const WorkPtr& w : m_queue)
                w->stopAt = std::min(w->stopAt, w->next);
            m_queue.clear();
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }
    Lanes(const Lanes&) = delete;
    Lanes& operator=(const Lanes&) = delete;

    WorkPtr submit(std::vector<Task> tasks, bool urgent = false, bool stopOnFailure = true) {
        auto w = std::make_shared<Work>();
        const int n = int(tasks.size());
        w->tasks = std::move(tasks);
        w->stopOnFailure = stopOnFailure;
        w->results.resize(size_t(n));
        w->ran.assign(size_t(n), 0);
        w->done = std::make_unique<std::atomic<qint64>[]>(size_t(n));
        w->total = std::make_unique<std::atomic<qint64>[]>(size_t(n));
        w->stopAt = n;
        if (n == 0)
            return w;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (urgent)
                m_queue.push_front(w);
            else
                m_queue.push_back(w);
        }
        m_wake.notify_all();
        return w;
    }

    // No further task of the work starts; those running finish.
    void cancel(const WorkPtr& w) {
        if (!w)
            return;
        std::lock_guard<std::mutex> hold(m_mutex);
        w->stopAt = std::min(w->stopAt, w->next);
    }

    // Waits for the work through the runner, so that the window stays live and its bar shows the
    // work's bytes. Should the runner not run the wait (no channel), nothing more of the work starts
    // and the tasks that never ran carry the runner's answer.
    void wait(const TransferRunner& run, const WorkPtr& w) {
        if (!w || w->tasks.empty())
            return;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (w->finished())
                return;
        }
        const TransferResult whole = run([&](FtpClient&, const TransferProgress& progress) {
            std::unique_lock<std::mutex> hold(m_mutex);
            m_progress = progress ? &progress : nullptr;
            m_watched = w.get();
            m_done.wait(hold, [&] { return w->finished(); });
            m_watched = nullptr;
            m_progress = nullptr;
            TransferResult all;
            all.ok = true;
            return all;
        });
        std::unique_lock<std::mutex> hold(m_mutex);
        if (whole && w->finished())
            return;
        w->stopAt = std::min(w->stopAt, w->next);
        m_done.wait(hold, [&] { return w->finished(); });
        for (size_t k = 0; k < w->tasks.size(); ++k)
            if (!w->ran[k]) {
                w->results[k] = whole;
                w->ran[k] = 1;
            }
    }

private:
    void lane(FtpClient& client) {
        std::unique_lock<std::mutex> hold(m_mutex);
        for (;;) {
            WorkPtr w;
            while (!m_queue.empty()) {
                if (m_queue.front()->next < m_queue.front()->stopAt) {
                    w = m_queue.front();
                    break;
                }
                m_queue.pop_front();
            }
            if (!w) {
                if (m_closing)
                    return;
                m_wake.wait(hold);
                continue;
            }
            const int k = w->next++;
            ++w->running;
            hold.unlock();
            Work* const mine = w.get();
            // libcurl reports many times a file; only a watched work takes the lock, to add up its bar.
            const TransferProgress progress = [this, mine, k](qint64 d, qint64 t) {
                mine->done[size_t(k)].store(d, std::memory_order_relaxed);
                mine->total[size_t(k)].store(std::max<qint64>(t, 0), std::memory_order_relaxed);
                if (m_watched.load() != mine)
                    return;
                std::lock_guard<std::mutex> figures(m_mutex);
                if (m_watched.load() != mine || !m_progress)
                    return;
                qint64 sumDone = 0, sumTotal = 0;
                for (size_t j = 0; j < mine->tasks.size(); ++j) {
                    sumDone += mine->done[j].load(std::memory_order_relaxed);
                    sumTotal += mine->total[j].load(std::memory_order_relaxed);
                }
                (*m_progress)(sumDone, sumTotal);
            };
            TransferResult r;
            try {
                r = w->tasks[size_t(k)](client, progress);
            } catch (const std::exception& error) {
                r.failure = TransferFailure::Internal;
                r.message = QStringLiteral("文件传输出错：%1").arg(QString::fromLocal8Bit(error.what()));
            }
            hold.lock();
            const bool failed = !r.ok;
            w->results[size_t(k)] = std::move(r);
            w->ran[size_t(k)] = 1;
            --w->running;
            if (failed && w->stopOnFailure)
                w->stopAt = std::min(w->stopAt, k + 1);
            // Waiters wait for a whole work: waking them for each file would cost a thread switch a file.
            if (w->finished())
                m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake; // a lane waits for work
    std::condition_variable m_done; // a waiter waits for its work to finish
    std::deque<WorkPtr> m_queue;
    bool m_closing = false;
    std::atomic<const Work*> m_watched{nullptr}; // set and cleared under the lock
    const TransferProgress* m_progress = nullptr;
    std::vector<std::thread> m_threads;
};

} // namespace velda
