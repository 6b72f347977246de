#pragma once

#include <QHash>
#include <QImage>
#include <QStringList>
#include <QWidget>

#include <memory>

class QLabel;
class QStringListModel;

namespace Ui {
class FrmSeekItemInfo;
}

namespace velda {

class Session;
class FormTransfer;
struct PreviewSource;

// Finds parts or drawings by a composed condition and shows one of them: its records, its library
// state and, for a reader of the drawing, the picture stored in the drawing file.
class FrmSeekItemInfo final : public QWidget {
    Q_OBJECT
public:
    explicit FrmSeekItemInfo(Session& session, QWidget* parent = nullptr);
    ~FrmSeekItemInfo() override;

    // The window's own copy of the drawing last fetched; it is gone once the window is.
    const QString& previewFile() const { return m_previewFile; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CmdSeek_Click();
    void LstResult_Click();
    void showPreview(quint64 view, const QString& code, const PreviewSource& source);

    struct Picture {
        QImage image;
        QString reason;
    };

    Session& m_session;
    std::unique_ptr<Ui::FrmSeekItemInfo> m_ui;
    QStringListModel* m_results = nullptr;
    QLabel* m_count = nullptr; // the panel's count, placed under the list
    FormTransfer* m_transfer = nullptr;
    QString m_previewFile;
    bool m_keyMoving = false;
    quint64 m_view = 0; // counts detail views; only the latest may change the picture
    // Pictures fetched for this window by server, volume and stored name; a re-check-in stores a
    // new name, so a changed drawing is fetched again.
    QHash<QString, Picture> m_pictures;
    QStringList m_pictureOrder;
};

} // namespace velda
