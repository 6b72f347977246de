#include "transfer/TransferPool.h"

#include "transfer/TransferRunner.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <exception>

namespace velda {

namespace {

TransferResult Internal(const QString& message) {
    TransferResult result;
    result.failure = TransferFailure::Internal;
    result.message = message;
    return result;
}

TransferResult RunGuarded(const TransferOperation& operation, FtpClient& client, const TransferProgress& progress) {
    try {
        return operation(client, progress);
    } catch (const std::exception& error) {
        return Internal(QStringLiteral("文件传输出错：%1").arg(QString::fromLocal8Bit(error.what())));
    } catch (...) {
        return Internal(QStringLiteral("文件传输出错"));
    }
}

// Progress can come thousands of times a second; only the latest figures matter, so at most one
// delivery is queued at a time and it reads whatever is newest when it runs.
void Relay(const TransferWorkPtr& work, TransferWatch* watch) {
    if (work->deliveryQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        watch,
        [work, watch] {
            work->deliveryQueued = false;
            qint64 done = 0, total = 0;
            for (int k = 0; k < work->size(); ++k) {
                done += work->done[size_t(k)].load(std::memory_order_relaxed);
                total += work->total[size_t(k)].load(std::memory_order_relaxed);
            }
            emit watch->progressed(done, total);
        },
        Qt::QueuedConnection);
}

} // namespace

TransferPool::TransferPool(std::vector<std::unique_ptr<FtpClient>>& clients, int count, const FtpOptions& options) {
    while (int(clients.size()) < count)
        clients.push_back(std::make_unique<FtpClient>(options));
    std::vector<FtpClient*> mine;
    for (int j = 0; j < count; ++j) {
        mine.push_back(clients[size_t(j)].get());
        mine.back()->SetStopRequested(false); // a stop of an earlier pool on the same clients is over
    }
    start(mine);
}

TransferPool::TransferPool(FtpClient& client) { start({&client}); }

void TransferPool::start(const std::vector<FtpClient*>& clients) {
    m_clients = clients;
    for (FtpClient* c : m_clients)
        m_threads.emplace_back([this, c] { work(*c); });
}

TransferPool::~TransferPool() {
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_closing = true;
        for (const TransferWorkPtr& w : m_queue) {
            w->stopAt = std::min(w->stopAt, w->next);
            if (w->finished())
                finish(*w);
        }
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

TransferWorkPtr TransferPool::submit(std::vector<TransferOperation> operations, bool urgent, bool stopOnFailure,
                                     TransferWatch* watch) {
    auto w = std::make_shared<TransferWork>();
    const int n = int(operations.size());
    w->operations = std::move(operations);
    w->stopOnFailure = stopOnFailure;
    w->results.resize(size_t(n));
    w->ran.assign(size_t(n), 0);
    w->done = std::make_unique<std::atomic<qint64>[]>(size_t(n));
    w->total = std::make_unique<std::atomic<qint64>[]>(size_t(n));
    w->stopAt = n;
    if (watch) {
        watch->m_running = true;
        emit watch->started();
        w->watch = watch;
    }
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        if (n == 0 || m_closing) {
            w->stopAt = 0;
            finish(*w);
            return w;
        }
        if (urgent)
            m_queue.push_front(w);
        else
            m_queue.push_back(w);
    }
    m_wake.notify_all();
    return w;
}

void TransferPool::cancel(const TransferWorkPtr& w) {
    if (!w)
        return;
    std::lock_guard<std::mutex> hold(m_mutex);
    w->stopAt = std::min(w->stopAt, w->next);
    if (w->finished())
        finish(*w);
}

void TransferPool::wait(const TransferRunner& run, const TransferWorkPtr& w) {
    if (!w || w->operations.empty())
        return;
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        if (w->finished())
            return;
    }
    const TransferResult whole = run([&](FtpClient& runner, const TransferProgress& progress) {
        std::unique_lock<std::mutex> hold(m_mutex);
        w->forward = progress ? &progress : nullptr;
        // 停止 asked of the runner's client (a dialog's) ends what this wait waits for, too.
        bool stopped = false;
        while (!m_done.wait_for(hold, std::chrono::milliseconds(50), [&] { return w->finished(); }))
            if (!stopped && runner.StopRequested()) {
                stopped = true;
                hold.unlock();
                requestStop();
                hold.lock();
            }
        w->forward = nullptr;
        TransferResult all;
        all.ok = true;
        return all;
    });
    std::unique_lock<std::mutex> hold(m_mutex);
    if (whole && w->finished())
        return;
    w->stopAt = std::min(w->stopAt, w->next);
    if (w->finished())
        finish(*w);
    m_done.wait(hold, [&] { return w->finished(); });
    for (size_t k = 0; k < w->operations.size(); ++k)
        if (!w->ran[k]) {
            w->results[k] = whole;
            w->ran[k] = 1;
        }
}

void TransferPool::serve(const TransferWorkPtr& w) {
    if (!w)
        return;
    if (!QCoreApplication::instance()) {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_done.wait(hold, [&] { return w->finished(); });
        return;
    }
    // The work's watch ends the wait once it has told the end; without one, a watch of the wait's own.
    TransferWatch own;
    QEventLoop loop;
    TransferWatch* watch = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        watch = w->watch.load();
        if (!watch) {
            if (w->finished())
                return;
            own.m_running = true;
            w->watch = watch = &own;
        }
    }
    QObject::connect(watch, &TransferWatch::finished, &loop, &QEventLoop::quit);
    if (watch->isRunning())
        loop.exec();
    // The loop also ends when the application quits; the work is only complete once its workers are done.
    std::unique_lock<std::mutex> hold(m_mutex);
    m_done.wait(hold, [&] { return w->finished(); });
    if (w->watch.load() == &own)
        w->watch = nullptr;
}

TransferResult TransferPool::run(TransferOperation operation, TransferWatch* watch) {
    std::vector<TransferOperation> one;
    one.push_back(std::move(operation));
    const TransferWorkPtr w = submit(std::move(one), false, true, watch);
    serve(w);
    if (!w->ran[0]) {
        TransferResult stopped;
        stopped.failure = TransferFailure::Stopped;
        stopped.message = QStringLiteral("文件传输已停止");
        return stopped;
    }
    return w->results[0];
}

void TransferPool::requestStop() {
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        for (const TransferWorkPtr& w : m_queue) {
            w->stopAt = std::min(w->stopAt, w->next);
            if (w->finished())
                finish(*w);
        }
    }
    for (FtpClient* c : m_clients)
        c->SetStopRequested(true);
}

void TransferPool::clearStop() {
    for (FtpClient* c : m_clients)
        c->SetStopRequested(false);
}

bool TransferPool::stopRequested() const {
    return std::any_of(m_clients.begin(), m_clients.end(), [](FtpClient* c) { return c->StopRequested(); });
}

// Under the lock, once the work's last operation is done or none of the rest will start.
void TransferPool::finish(TransferWork& w) {
    if (w.announced)
        return;
    w.announced = true;
    // Waiters wait for a whole work: waking them for each operation would cost a thread switch each.
    m_done.notify_all();
    TransferWatch* const watch = w.watch.load();
    if (!watch)
        return;
    bool ok = true;
    for (int k = 0; k < w.size(); ++k)
        ok = ok && w.ok(k);
    QMetaObject::invokeMethod(
        watch,
        [watch, ok] {
            watch->m_running = false;
            emit watch->finished(ok);
        },
        Qt::QueuedConnection);
}

void TransferPool::work(FtpClient& client) {
    std::unique_lock<std::mutex> hold(m_mutex);
    for (;;) {
        TransferWorkPtr w;
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
        TransferWork* const mine = w.get();
        // libcurl reports many times a file; only a work a runner watches takes the lock, to add up its bar.
        const TransferProgress progress = [this, mine, &w, k](qint64 d, qint64 t) {
            mine->done[size_t(k)].store(d, std::memory_order_relaxed);
            mine->total[size_t(k)].store(std::max<qint64>(t, 0), std::memory_order_relaxed);
            if (TransferWatch* watch = mine->watch.load())
                Relay(w, watch);
            if (!mine->forward.load())
                return;
            std::lock_guard<std::mutex> figures(m_mutex);
            const TransferProgress* forward = mine->forward.load();
            if (!forward)
                return;
            qint64 sumDone = 0, sumTotal = 0;
            for (int j = 0; j < mine->size(); ++j) {
                sumDone += mine->done[size_t(j)].load(std::memory_order_relaxed);
                sumTotal += mine->total[size_t(j)].load(std::memory_order_relaxed);
            }
            (*forward)(sumDone, sumTotal);
        };
        TransferResult r = RunGuarded(w->operations[size_t(k)], client, progress);
        hold.lock();
        const bool failed = !r.ok;
        w->results[size_t(k)] = std::move(r);
        w->ran[size_t(k)] = 1;
        --w->running;
        if (failed && w->stopOnFailure)
            w->stopAt = std::min(w->stopAt, k + 1);
        if (w->finished())
            finish(*w);
    }
}

TransferResult WaitForTransfer(FtpClient& client, const TransferOperation& operation, TransferWatch* watch) {
    TransferPool pool(client);
    return pool.run(operation, watch);
}

TransferResult WaitForTransfer(FtpClient& client, const QString& volumeUrl, const QString& commandText,
                               TransferWatch* watch) {
    return WaitForTransfer(
        client,
        [volumeUrl, commandText](FtpClient& worker, const TransferProgress& progress) {
            return worker.Execute(volumeUrl, commandText, progress);
        },
        watch);
}

void WaitForWork(const std::function<void()>& work) {
    FtpClient unused;
    WaitForTransfer(unused, [&work](FtpClient&, const TransferProgress&) {
        work();
        TransferResult done;
        done.ok = true;
        return done;
    });
}

} // namespace velda
