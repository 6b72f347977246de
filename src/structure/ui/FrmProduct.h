#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FrmProduct;
}

namespace velda {

class Session;

// The picker of a stored structure: a product, then one of its sections; opens the structure window.
class FrmProduct final : public QWidget {
    Q_OBJECT
public:
    explicit FrmProduct(Session& session, QWidget* parent = nullptr);
    ~FrmProduct() override;

private:
    void Form_Load();
    void CboProductCode_Click();
    void CmdOK_Click();
    void CmdCancel_Click();

    Session& m_session;
    std::unique_ptr<Ui::FrmProduct> m_ui;
};

} // namespace velda
