#include "library/ChangeImpact.h"

#include "core/Feedback.h"
#include "core/OfficeSettings.h"
#include "core/Session.h"
#include "library/LibraryStore.h"

namespace velda {

namespace {
ProductsUsingCode& Finder() {
    static ProductsUsingCode finder;
    return finder;
}

// A batch of hundreds of used parts must still fit a message box.
constexpr int kCodesShown = 10;
constexpr int kProductsShown = 8;

QString ProductList(const QStringList& products) {
    if (products.size() <= kProductsShown)
        return products.join(QStringLiteral("、"));
    return QStringLiteral("%1等%2个产品")
        .arg(products.mid(0, kProductsShown).join(QStringLiteral("、")))
        .arg(products.size());
}
} // namespace

void SetProductsUsingCode(ProductsUsingCode finder) { Finder() = std::move(finder); }

QString ImpactQuestion(Session& session, const QStringList& codes, ChangeKind kind) {
    if (!Finder() || codes.isEmpty() || !OfficeSettings(session.db()).flag(ImpactText::Setting, true))
        return {};
    const auto inLibrary = LibraryStore(session.db()).readDrawings(codes);
    QStringList lines;
    int used = 0;
    for (const QString& code : codes) {
        if (!inLibrary.contains(code))
            continue;
        const QStringList products = Finder()(session, code);
        if (products.isEmpty())
            continue;
        if (++used <= kCodesShown)
            lines << QStringLiteral("图纸<%1>：%2").arg(code, ProductList(products));
    }
    if (used == 0)
        return {};
    if (used > kCodesShown)
        lines << QStringLiteral("……共%1张图纸").arg(used);
    const QString what = kind == ChangeKind::CheckIn ? QStringLiteral("入库新版本") : QStringLiteral("删除图纸");
    return QStringLiteral("以下图纸用于已入库的产品结构：\n%1\n%2将影响这些产品，是否继续？").arg(lines.join(QLatin1Char('\n')), what);
}

bool ConfirmChange(Session& session, const QStringList& codes, ChangeKind kind) {
    QString question;
    try {
        question = ImpactQuestion(session, codes, kind);
    } catch (const Error&) {
        return true;
    }
    return question.isEmpty() || session.feedback().question(question, kTitleFeedback);
}

} // namespace velda
