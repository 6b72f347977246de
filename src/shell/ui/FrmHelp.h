#pragma once

#include <QWidget>

class QTextBrowser;

namespace velda {

// The manual, read inside the program: works on a machine without a browser or a desktop viewer.
// Links between its pages and its pictures resolve beside the manual; links to other sites go to the
// desktop's browser when there is one.
class FrmHelp final : public QWidget {
    Q_OBJECT
public:
    explicit FrmHelp(QWidget* parent = nullptr);

    // Shows the manual file; false when it cannot be read.
    bool openManual(const QString& path);
    QTextBrowser* browser() const { return m_browser; }

private:
    QTextBrowser* m_browser = nullptr;
};

} // namespace velda
