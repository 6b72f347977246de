#include "core/ui/Forms.h"

#include "core/TextRules.h"
#include "core/Twips.h"

#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMetaObject>
#include <QPalette>
#include <QValidator>

namespace velda {

void CloseForm(QWidget* form) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget()))
        sub->close();
    else
        form->close();
}

namespace {
const char* const kDisabledByCommand = "veldaDisabledByCommand";
}

void DisableControls(QWidget* form, const QStringList& controlNames) {
    for (const QString& name : controlNames) {
        if (auto* w = form->findChild<QWidget*>(name)) {
            w->setProperty(kDisabledByCommand, true);
            w->setEnabled(false);
        }
    }
}

bool DisabledByCommand(const QWidget* control) { return control && control->property(kDisabledByCommand).toBool(); }

bool ShowOtherForm(QWidget* from, const QString& name) {
    for (QWidget* w = from ? from->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (w->metaObject()->indexOfMethod("ShowForm(QString)") >= 0)
            return QMetaObject::invokeMethod(w, "ShowForm", Q_ARG(QString, name));
    }
    return false;
}

bool ShowOtherFormWithCode(QWidget* from, const QString& name, const QString& code) {
    if (!ShowOtherForm(from, name))
        return false;
    for (QWidget* w = from->parentWidget(); w; w = w->parentWidget()) {
        if (w->metaObject()->indexOfMethod("ShowForm(QString)") < 0)
            continue;
        // The form's frame carries its name; a closed one may linger hidden until it is deleted.
        for (auto* sub : w->findChildren<QMdiSubWindow*>(name + QStringLiteral("Window"))) {
            if (!sub->isHidden() && sub->widget())
                return QMetaObject::invokeMethod(sub->widget(), "ShowCode", Q_ARG(QString, code));
        }
        return false;
    }
    return false;
}

void DisableButKeepLegible(QWidget* box) {
    box->setEnabled(false);
    QPalette palette = box->palette();
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
        palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
    box->setPalette(palette);
}

namespace {
class CodeValidator final : public QValidator {
public:
    CodeValidator(bool trim, QObject* parent) : QValidator(parent), m_trim(trim) {}
    State validate(QString& input, int&) const override {
        return CodeFits(m_trim ? TypedCode(input) : input) ? Acceptable : Invalid;
    }

private:
    bool m_trim;
};
} // namespace

void MakeCodeBox(QLineEdit* box, std::function<bool()> trims) {
    // The limit holds for the code as it will be kept: blanks that will go do not count.
    box->setValidator(new CodeValidator(bool(trims), box));
    box->setToolTip(
        QStringLiteral("零件代号最长%1个字节（字母、数字每个占1个字节，汉字每个占3个字节）").arg(kMaxCodeBytes));
    if (!trims)
        return;
    QObject::connect(box, &QLineEdit::editingFinished, box, [box, trims] {
        if (!trims())
            return;
        const QString code = TypedCode(box->text());
        if (code != box->text())
            box->setText(code);
    });
}

namespace {
const char* const kTwipsSize = "veldaTwipsSize";
} // namespace

void SizeFormInTwips(QWidget* form, int widthTwips, int heightTwips) {
    const double dpi = form->logicalDpiX();
    const QSize wanted(TwipsToPixels(widthTwips, dpi), TwipsToPixels(heightTwips, dpi));
    // Kept for FormStartSize: a form often fills its panels after it is sized.
    form->setProperty(kTwipsSize, wanted);
    form->resize(FormStartSize(form));
}

QSize FormStartSize(QWidget* form, const QSize& room) {
    const QSize twips = form->property(kTwipsSize).toSize();
    // The office's sizes fitted its own font and its own controls; a wider font or a panel filled with
    // more fields must not clip a caption or squeeze a column out of the window. The layout's roomier
    // wish is granted as far as the room it opens in allows (a wide form must not reach past the main
    // window's edge), what it cannot do without always.
    QSize wanted = (twips.isValid() ? twips : form->size()).expandedTo(form->sizeHint());
    if (room.isValid())
        wanted = wanted.boundedTo(room);
    return wanted.expandedTo(form->minimumSizeHint());
}

} // namespace velda
