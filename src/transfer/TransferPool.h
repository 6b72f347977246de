#pragma once

#include "transfer/FtpClient.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velda {

class TransferRunner;
class TransferWatch;

// One piece of work that needs a connection: it runs on a worker thread against that worker's client
// and reports its bytes as it goes.
using TransferOperation = std::function<TransferResult(FtpClient& client, const TransferProgress& progress)>;

// Operations handed to a pool together, started in order. Once one fails no later one starts (unless
// the work goes on past failures); those already running finish. An operation never started has
// ran[k] == 0. The results may be read once the work is finished, i.e. after a wait.
struct TransferWork {
    std::vector<TransferOperation> operations;
    bool stopOnFailure = true;
    std::vector<TransferResult> results;
    std::vector<char> ran;
    int next = 0;   // the next operation to hand out
    int stopAt = 0; // no operation from here on starts
    int running = 0;
    // Each operation's bytes, for the bar: written by the workers without the lock.
    std::unique_ptr<std::atomic<qint64>[]> done, total;
    // Who hears of the work on its own thread, and who hears its bytes on the waiting worker's.
    std::atomic<TransferWatch*> watch{nullptr};
    std::atomic<const TransferProgress*> forward{nullptr}; // set and cleared under the pool's lock
    std::atomic<bool> deliveryQueued{false};
    bool announced = false; // its end was told, under the pool's lock

    bool finished() const { return running == 0 && next >= stopAt; }
    bool ok(int k) const { return ran[size_t(k)] && results[size_t(k)].ok; }
    int size() const { return int(operations.size()); }
};
using TransferWorkPtr = std::shared_ptr<TransferWork>;

// Tells whoever shows a work when it starts and ends and how far its bytes got, so that a dialog can
// disable its commands meanwhile and move its bar. Its signals arrive on the thread it lives on.
class TransferWatch final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isRunning() const { return m_running; }

signals:
    void started();
    void progressed(qint64 done, qint64 total);
    void finished(bool ok);

private:
    friend class TransferPool;
    bool m_running = false;
};

// The one way to run work away from the window: worker threads, each with a client of its own, working
// through the works in the order they were handed in, urgent ones first. A dialog waits for its work
// while its thread goes on serving events; the batch goes on writing rows while the workers move the
// files of the next group.
//
// Handing out an operation and taking back its result costs one lock each; progress takes the lock only
// for a work that a runner watches, and waiters are woken once per work, never per operation.
class TransferPool final {
public:
    // count workers on the caller's clients, kept between pools so that their connections are reused;
    // missing clients are made with the options.
    TransferPool(std::vector<std::unique_ptr<FtpClient>>& clients, int count, const FtpOptions& options);
    // One worker on the caller's client.
    explicit TransferPool(FtpClient& client);
    // Nothing queued starts any more; the running operations finish.
    ~TransferPool();
    TransferPool(const TransferPool&) = delete;
    TransferPool& operator=(const TransferPool&) = delete;

    // Queues the operations as one work. A watch given here hears of the work on its own thread.
    TransferWorkPtr submit(std::vector<TransferOperation> operations, bool urgent = false, bool stopOnFailure = true,
                           TransferWatch* watch = nullptr);

    // No further operation of the work starts; those running finish.
    void cancel(const TransferWorkPtr& work);

    // Waits for the work through the runner, so that the window stays live and its bar shows the work's
    // bytes. Should the runner not run the wait (no channel), nothing more of the work starts and the
    // operations that never ran carry the runner's answer.
    void wait(const TransferRunner& run, const TransferWorkPtr& work);

    // Waits for the work while this thread goes on serving its events (blocks plainly where there is
    // no application).
    void serve(const TransferWorkPtr& work);

    // One operation, waited for here as serve() does; its outcome comes back.
    TransferResult run(TransferOperation operation, TransferWatch* watch = nullptr);

    // Nothing queued starts any more, and uploads and downloads on the pool's clients, running or not
    // yet started, end at once with Stopped until the stop is taken back.
    void requestStop();
    void clearStop();
    bool stopRequested() const;

private:
    void work(FtpClient& client);
    void finish(TransferWork& work);
    void start(const std::vector<FtpClient*>& clients);

    std::vector<FtpClient*> m_clients;
    std::mutex m_mutex;
    std::condition_variable m_wake; // a worker waits for work
    std::condition_variable m_done; // a waiter waits for its work to finish
    std::deque<TransferWorkPtr> m_queue;
    bool m_closing = false;
    std::vector<std::thread> m_threads;
};

// Runs the operation on a worker thread with the client while this thread serves its events, and
// returns the result once it is done. The client belongs to the worker until then; calls on it from
// event handlers meanwhile fail with Busy.
TransferResult WaitForTransfer(FtpClient& client, const TransferOperation& operation, TransferWatch* watch = nullptr);

// The same for one command text against one volume URL.
TransferResult WaitForTransfer(FtpClient& client, const QString& volumeUrl, const QString& commandText,
                               TransferWatch* watch = nullptr);

// Work that needs no connection (reading or writing a large file, a query on a connection of its own),
// run on a worker the same way while this thread serves its events.
void WaitForWork(const std::function<void()>& work);

} // namespace velda
