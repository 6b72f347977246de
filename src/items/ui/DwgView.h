#pragma once

#include "items/DwgPreview.h"

#include <QImage>
#include <QWidget>

namespace velda {

// Shows the picture stored in a drawing file, scaled to fit with its proportions kept, on white.
// Pointed at no file, or at a file without a picture, it shows the empty white picture.
class DwgView final : public QWidget {
    Q_OBJECT
public:
    explicit DwgView(QWidget* parent = nullptr);

    // Reads the file's picture now; the file may be removed afterwards.
    void setPath(const QString& path);
    void showBlank();
    // A picture read earlier from the named file, shown again without reading it.
    void setPicture(const QImage& image, const QString& path, const QString& reason);

    const QString& path() const { return m_path; }
    bool hasPicture() const { return !m_image.isNull(); }
    const QImage& image() const { return m_image; }
    // Why the last file named shows no picture; empty when it shows one or none was named.
    const QString& reason() const { return m_reason; }

    QSize sizeHint() const override { return {240, 180}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_path;
    QImage m_image;
    QString m_reason;
};

} // namespace velda
