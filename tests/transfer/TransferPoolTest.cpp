#include "transfer/TransferPool.h"
#include "transfer/TransferRunner.h"

#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <set>
#include <thread>

namespace velda {
namespace {

// None of these operations touches its client: the pool's rules hold whatever the operations do.
TransferResult Done(bool ok = true) {
    TransferResult r;
    r.ok = ok;
    if (!ok)
        r.failure = TransferFailure::RemoteRefused;
    return r;
}

// Holds the pool's worker until opened.
struct Gate {
    std::promise<void> open, began;
    std::shared_future<void> opened = open.get_future().share();
    std::future<void> entered = began.get_future();
    TransferOperation op(bool* sawStop = nullptr) {
        return [this, sawStop](FtpClient& client, const TransferProgress&) {
            began.set_value();
            opened.wait();
            if (sawStop)
                *sawStop = client.StopRequested();
            return Done();
        };
    }
    // Opens from another thread once the caller is blocked waiting.
    void openSoon() {
        std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            open.set_value();
        }).detach();
    }
};

struct Journal {
    std::mutex mutex;
    std::vector<int> order;
    TransferOperation op(int id, bool ok = true) {
        return [this, id, ok](FtpClient&, const TransferProgress&) {
            std::lock_guard<std::mutex> hold(mutex);
            order.push_back(id);
            return Done(ok);
        };
    }
};

// A runner that waits on a client of its own, as a test or a tool does, and hears the bytes it is told.
struct PlainRunner {
    FtpClient client;
    std::vector<std::pair<qint64, qint64>> heard;
    TransferRunner runner() {
        return [this](const TransferOperation& op) {
            return op(client, [this](qint64 d, qint64 t) { heard.emplace_back(d, t); });
        };
    }
};

TEST(TransferPoolTest, AFailureStopsTheRestOfItsWorkUnlessItGoesOn) {
    std::vector<std::unique_ptr<FtpClient>> clients;
    TransferPool pool(clients, 1, {});
    PlainRunner waiter;
    Journal journal;
    const TransferWorkPtr stopping = pool.submit({journal.op(1), journal.op(2, false), journal.op(3)});
    pool.wait(waiter.runner(), stopping);
    const TransferWorkPtr going = pool.submit({journal.op(4), journal.op(5, false), journal.op(6)}, false, false);
    pool.wait(waiter.runner(), going);

    EXPECT_EQ(journal.order, (std::vector<int>{1, 2, 4, 5, 6}));
    EXPECT_TRUE(stopping->ok(0));
    EXPECT_TRUE(stopping->ran[1] && !stopping->ok(1));
    EXPECT_FALSE(stopping->ran[2]);
    EXPECT_TRUE(going->ok(2));
    EXPECT_EQ(clients.size(), 1u);

    // A runner without a channel: nothing more starts and what never ran carries its answer.
    Gate gate;
    const TransferWorkPtr held = pool.submit({gate.op(), journal.op(7)});
    gate.entered.wait();
    gate.openSoon();
    pool.wait(TransferRunner(), held);
    EXPECT_TRUE(held->ok(0));
    EXPECT_TRUE(held->ran[1]);
    EXPECT_EQ(held->results[1].failure, TransferFailure::Internal);
    EXPECT_EQ(journal.order.back(), 6);
}

TEST(TransferPoolTest, ManyOperationsSpreadOverTheWorkersAndTheirBytesAddUp) {
    std::vector<std::unique_ptr<FtpClient>> clients;
    TransferPool pool(clients, 3, {});
    std::mutex mutex;
    std::set<FtpClient*> usedClients;
    std::set<std::thread::id> usedThreads;
    std::vector<TransferOperation> ops;
    for (int k = 0; k < 30; ++k)
        ops.push_back([&, k](FtpClient& client, const TransferProgress& progress) {
            {
                std::lock_guard<std::mutex> hold(mutex);
                usedClients.insert(&client);
                usedThreads.insert(std::this_thread::get_id());
            }
            progress(k / 2, -1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            progress(k, k);
            return Done();
        });
    // The runner's wait takes one more thread, as a dialog's does.
    PlainRunner waiter;
    const TransferRunner run = [&](const TransferOperation& op) {
        std::future<TransferResult> f = std::async(std::launch::async, [&] { return waiter.runner()(op); });
        return f.get();
    };
    const TransferWorkPtr work = pool.submit(std::move(ops));
    pool.wait(run, work);

    for (int k = 0; k < 30; ++k)
        EXPECT_TRUE(work->ok(k)) << k;
    EXPECT_EQ(usedClients.size(), 3u);
    EXPECT_EQ(usedThreads.size(), 3u);
    EXPECT_EQ(usedThreads.count(std::this_thread::get_id()), 0u);
    ASSERT_FALSE(waiter.heard.empty());
    EXPECT_EQ(waiter.heard.back(), std::make_pair(qint64(435), qint64(435))); // 0 + 1 + ... + 29

    // A watched work tells its sums on the watch's thread, and its end once.
    TransferWatch watch;
    std::pair<qint64, qint64> last;
    int ends = 0;
    QObject::connect(&watch, &TransferWatch::progressed, [&](qint64 d, qint64 t) {
        EXPECT_EQ(QThread::currentThread(), watch.thread());
        last = {d, t};
    });
    QObject::connect(&watch, &TransferWatch::finished, [&](bool ok) {
        EXPECT_TRUE(ok);
        ++ends;
    });
    std::vector<TransferOperation> sized;
    for (int k = 1; k <= 4; ++k)
        sized.push_back([k](FtpClient&, const TransferProgress& progress) {
            progress(k * 10, k * 10);
            return Done();
        });
    pool.serve(pool.submit(std::move(sized), false, true, &watch));
    EXPECT_EQ(last, std::make_pair(qint64(100), qint64(100)));
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(watch.isRunning());
}

TEST(TransferPoolTest, UrgentWorksGoFirstAndAStopLeavesTheQueueUnstarted) {
    std::vector<std::unique_ptr<FtpClient>> clients;
    TransferPool pool(clients, 1, {});
    Journal journal;
    Gate gate;
    const TransferWorkPtr first = pool.submit({gate.op()});
    const TransferWorkPtr plain = pool.submit({journal.op(1), journal.op(2)});
    const TransferWorkPtr urgent = pool.submit({journal.op(3)}, true);
    gate.open.set_value();
    pool.serve(plain);
    pool.serve(urgent);
    EXPECT_EQ(journal.order, (std::vector<int>{3, 1, 2}));

    // Stop: what waits does not start, what runs sees its client stopped, until the stop is taken back.
    Gate second;
    bool sawStop = false;
    const TransferWorkPtr running = pool.submit({second.op(&sawStop)});
    const TransferWorkPtr queued = pool.submit({journal.op(4)});
    second.entered.wait();
    pool.requestStop();
    EXPECT_TRUE(pool.stopRequested());
    second.open.set_value();
    pool.serve(running);
    pool.serve(queued);
    EXPECT_TRUE(sawStop);
    EXPECT_TRUE(running->ok(0));
    EXPECT_FALSE(queued->ran[0]);
    EXPECT_EQ(pool.run(journal.op(5)).failure, TransferFailure::None);
    pool.clearStop();
    EXPECT_FALSE(pool.stopRequested());
    EXPECT_EQ(journal.order, (std::vector<int>{3, 1, 2, 5}));
}

TEST(TransferPoolTest, ADestroyedPoolStartsNothingQueuedAndFinishesWhatRuns) {
    Journal journal;
    Gate gate;
    TransferWorkPtr running, queued;
    {
        std::vector<std::unique_ptr<FtpClient>> clients;
        TransferPool pool(clients, 1, {});
        running = pool.submit({gate.op()});
        queued = pool.submit({journal.op(1), journal.op(2)});
        gate.entered.wait();
        gate.openSoon();
    }
    EXPECT_TRUE(running->ok(0));
    EXPECT_TRUE(queued->finished());
    EXPECT_FALSE(queued->ran[0] || queued->ran[1]);
    EXPECT_TRUE(journal.order.empty());
}

TEST(TransferPoolTest, WorkWithoutAConnectionRunsOffTheWaitingThread) {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    std::thread::id ranOn;
    WaitForWork([&] {
        ranOn = std::this_thread::get_id();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_GE(ticks, 5);
}

} // namespace
} // namespace velda
