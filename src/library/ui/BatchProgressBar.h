#pragma once

#include <QProgressBar>

namespace velda {

// The batch dialogs' bar: maximum N - 1 for N items (left alone for one), value i after item i
// (never set for the first), and the count shown as "n / N".
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

} // namespace velda
