#include "shell/ui/FrmAbout.h"

#include "ui_FrmAbout.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace velda {

namespace {
// The product's mark: a drawing sheet with a title block, drawn rather than shipped as a file.
QPixmap logo(int side) {
    QPixmap pm(side, side);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 3));
    p.setBrush(QColor(0xf4, 0xf8, 0xfc));
    p.drawRect(QRectF(4, 4, side - 8, side - 8));
    p.setPen(QPen(QColor(0x1f, 0x4e, 0x79), 2));
    p.drawRect(QRectF(side * 0.45, side * 0.68, side * 0.47, side * 0.24));
    p.drawLine(QPointF(side * 0.45, side * 0.80), QPointF(side * 0.92, side * 0.80));
    p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 3));
    p.drawEllipse(QPointF(side * 0.32, side * 0.36), side * 0.16, side * 0.16);
    p.drawLine(QPointF(side * 0.12, side * 0.36), QPointF(side * 0.52, side * 0.36));
    p.drawLine(QPointF(side * 0.32, side * 0.16), QPointF(side * 0.32, side * 0.56));
    return pm;
}
} // namespace

FrmAbout::FrmAbout(QWidget* parent) : QWidget(parent), m_ui(std::make_unique<Ui::FrmAbout>()) {
    m_ui->setupUi(this);
    m_ui->ImgLogo->setPixmap(logo(96));
    QFont f = m_ui->LblVersion->font();
    f.setPointSizeF(f.pointSizeF() * 1.6);
    f.setBold(true);
    m_ui->LblVersion->setFont(f);
    connect(m_ui->CmdOK, &QPushButton::clicked, this, [this] {
        if (parentWidget())
            parentWidget()->close();
        else
            close();
    });
}

FrmAbout::~FrmAbout() = default;

} // namespace velda
