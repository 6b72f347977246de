#pragma once

#include "transfer/ui/FormTransfer.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>

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

// What both batch dialogs do around a batch: actions off (through the dialog's transfer), 停止
// on, the bar moving per item, and the window served between items.
class BatchControls final {
public:
    BatchControls(FormTransfer* transfer, QProgressBar* bar, QPushButton* stop)
        : m_transfer(transfer), m_bar(bar), m_stop(stop) {
        m_stop->setEnabled(false);
        QObject::connect(m_stop, &QPushButton::clicked, m_stop, [this] { m_stopRequested = true; });
    }

    void begin() {
        m_stopRequested = false;
        // A batch of one large drawing would sit at "0 / 1" for minutes: show its bytes instead.
        m_transfer->onProgress = [this](qint64 done, qint64 total) {
            if (m_total != 1 || total < kBytesShownFrom)
                return;
            m_bar->setMaximum(100);
            m_bar->setValue(int(done * 100 / total));
            m_bar->setFormat(QStringLiteral("0 / 1  %1 / %2 MB")
                                 .arg(double(done) / 1048576.0, 0, 'f', 1)
                                 .arg(double(total) / 1048576.0, 0, 'f', 1));
        };
        m_transfer->beginBatch();
        m_stop->setEnabled(true);
    }
    void startItems(int total) {
        m_total = total;
        StartBatchProgress(m_bar, total);
    }
    // After item i; false once the user asked to stop.
    bool step(int index) {
        StepBatchProgress(m_bar, index, m_total);
        return keepAlive();
    }
    bool keepAlive() {
        QCoreApplication::processEvents();
        return !m_stopRequested;
    }
    bool stopRequested() const { return m_stopRequested; }
    void end() {
        m_transfer->onProgress = nullptr;
        m_stop->setEnabled(false);
        m_transfer->endBatch();
    }

private:
    FormTransfer* m_transfer;
    QProgressBar* m_bar;
    QPushButton* m_stop;
    int m_total = 0;
    bool m_stopRequested = false;
};

} // namespace velda
