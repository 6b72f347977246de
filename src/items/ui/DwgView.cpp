#include "items/ui/DwgView.h"

#include <QPainter>

namespace velda {

DwgView::DwgView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Dwg"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(40, 30);
}

void DwgView::setPath(const QString& path) {
    m_path = path;
    m_image = QImage();
    m_reason.clear();
    if (!path.isEmpty()) {
        const DwgPreviewResult result = ReadDwgPreview(path);
        if (result.found()) {
            const char* format = result.picture.format == DwgPicture::Format::Png ? "PNG" : "BMP";
            m_image = QImage::fromData(result.picture.data, format);
            if (m_image.isNull())
                m_reason = QStringLiteral("图纸中的预览图片无法解码。");
        } else {
            m_reason = result.reason();
        }
    }
    update();
}

void DwgView::setPicture(const QImage& image, const QString& path, const QString& reason) {
    m_path = path;
    m_image = image;
    m_reason = reason;
    update();
}

void DwgView::showBlank() { setPath(QString()); }

void DwgView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_image.isNull())
        return;
    const QSize fitted = m_image.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image);
}

} // namespace velda
