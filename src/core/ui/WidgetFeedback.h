#pragma once

#include "core/Feedback.h"

namespace velda {

// The real boxes: QMessageBox, QInputDialog, QFileDialog and the desktop's viewer.
class WidgetFeedback final : public Feedback {
public:
    void message(const QString& text, Icon icon, const QString& title) override;
    bool question(const QString& text, const QString& title) override;
    std::optional<QString> inputBox(const QString& prompt, const QString& title, const QString& defaultText) override;
    QString openFileName(const QString& caption, const QString& directory, const QString& filter) override;
    QString saveFileName(const QString& caption, const QString& directory, const QString& filter) override;
    bool openDocument(const QString& path) override;
};

} // namespace velda
