#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmAbout;
}

namespace velda {

class FrmAbout final : public QWidget {
    Q_OBJECT
public:
    explicit FrmAbout(QWidget* parent = nullptr);
    ~FrmAbout() override;

private:
    std::unique_ptr<Ui::FrmAbout> m_ui;
};

} // namespace velda
