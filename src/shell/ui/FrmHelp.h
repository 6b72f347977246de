#pragma once

#include <QTextBrowser>
#include <QWidget>

namespace velda {

// Pictures wider than the page are drawn at the page's width, so the manual never needs a horizontal
// scroll bar: the reader scrolls one way only.
class ManualBrowser final : public QTextBrowser {
    Q_OBJECT
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override;
};

// The manual, read inside the program: works on a machine without a browser or a desktop viewer.
// Links between its pages and its pictures resolve beside the manual; links to other sites go to the
// desktop's browser when there is one.
class FrmHelp final : public QWidget {
    Q_OBJECT
public:
    explicit FrmHelp(QWidget* parent = nullptr);

    // Shows the manual file; false when it cannot be read.
    bool openManual(const QString& path);
    // Sizes the window to at most nine tenths of the screen's free area and centres it on the main
    // window (or on the area), keeping the whole frame inside the area.
    void placeWithin(const QRect& available, const QRect& around);
    QTextBrowser* browser() const { return m_browser; }

private:
    ManualBrowser* m_browser = nullptr;
};

} // namespace velda
