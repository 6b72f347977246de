#pragma once

#include "transfer/ui/FormTransfer.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>

namespace velda {

// The bar: maximum N - 1 for N items (left alone for one), value i after item i (never set for
// the first), and the count shown as "n / N".
inline void StartBatchProgress(QProgressBar* bar, int total) {
    if (total > 1)
        bar->setMaximum(total - 1);
    bar->setTextVisible(true);
    bar->setFormat(QStringLiteral("0 / %1").arg(total));
}
inline void StepBatchProgress(QProgressBar* bar, int index, int total) {
    if (index != 0)
        bar->setValue(index);
    bar->setFormat(QStringLiteral("%1 / %2").arg(index + 1).arg(total));
}

// A single file at least this large shows its bytes on the bar.
inline constexpr qint64 kBytesShownFrom = 4LL << 20;

// "12.5 / 8192.0 MB"
inline QString TransferredMegabytes(qint64 done, qint64 total) {
    return QStringLiteral("%1 / %2 MB")
        .arg(double(done) / 1048576.0, 0, 'f', 1)
        .arg(double(total) / 1048576.0, 0, 'f', 1);
}

// What both batch dialogs do around a batch: actions off (through the dialog's transfer), 停止
// on, and the bar moving per item.
//
// The single-drawing dialog uses the same piece around its one transfer (beginSingle): the bar and
// the label follow the bytes, and 停止 ends the transfer at once, since there is no next item to stop
// before. There the three are shown only while a transfer runs.
class BatchControls final {
public:
    BatchControls(FormTransfer* transfer, QProgressBar* bar, QPushButton* stop, QLabel* bytes = nullptr)
        : m_transfer(transfer), m_bar(bar), m_stop(stop), m_bytes(bytes) {
        m_stop->setEnabled(false);
        QObject::connect(m_stop, &QPushButton::clicked, m_stop, [this] {
            m_stopRequested = true;
            if (m_single)
                m_transfer->requestStop();
        });
    }

    void beginSingle() {
        m_single = true;
        m_stopRequested = false;
        m_bar->setRange(0, 100);
        m_bar->setValue(0);
        m_bar->setTextVisible(true);
        m_bar->setFormat(QStringLiteral("%p%"));
        m_transfer->onProgress = [this](qint64 done, qint64 total) {
            if (total <= 0)
                return;
            m_bar->setValue(int(done * 100 / total));
            if (m_bytes)
                m_bytes->setText(TransferredMegabytes(done, total));
        };
        if (m_bytes)
            m_bytes->clear();
        setShown(true);
        m_transfer->beginBatch();
        m_stop->setEnabled(true);
    }

    void begin() {
        m_stopRequested = false;
        // A batch of one large drawing would sit at "0 / 1" for minutes: show its bytes instead.
        m_transfer->onProgress = [this](qint64 done, qint64 total) {
            if (m_total != 1 || total < kBytesShownFrom)
                return;
            m_bar->setMaximum(100);
            m_bar->setValue(int(done * 100 / total));
            m_bar->setFormat(QStringLiteral("0 / 1  ") + TransferredMegabytes(done, total));
        };
        m_transfer->beginBatch();
        m_stop->setEnabled(true);
    }
    void startItems(int total) {
        m_total = total;
        StartBatchProgress(m_bar, total);
    }
    // After item i; false once the user asked to stop. The window is served while the batch waits
    // for its transfers, which is where 停止 is heard.
    bool step(int index) {
        StepBatchProgress(m_bar, index, m_total);
        return keepAlive();
    }
    // Asked also by work that runs off the window, such as the search for the files of a batch.
    bool keepAlive() const { return !m_stopRequested; }
    bool stopRequested() const { return m_stopRequested; }
    void end() {
        m_transfer->onProgress = nullptr;
        m_stop->setEnabled(false);
        m_transfer->endBatch();
        if (m_single)
            setShown(false);
        m_single = false;
    }
    // The single-drawing dialog's controls at rest.
    void setShown(bool shown) {
        m_bar->setVisible(shown);
        m_stop->setVisible(shown);
        if (m_bytes)
            m_bytes->setVisible(shown);
    }

private:
    FormTransfer* m_transfer;
    QProgressBar* m_bar;
    QPushButton* m_stop;
    QLabel* m_bytes;
    int m_total = 0;
    std::atomic<bool> m_stopRequested{false};
    bool m_single = false;
};

} // namespace velda
