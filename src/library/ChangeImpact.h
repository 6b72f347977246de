#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace velda {

class Session;

// The question a designer wants before a new version of a part or its deletion: which products use
// it. The stored structures that answer it live a floor above the library, so the program hands the
// answer down once at start; a program that does not (a tool, a library test) asks nothing.
using ProductsUsingCode = std::function<QStringList(Session&, const QString& code)>;
void SetProductsUsingCode(ProductsUsingCode finder);

enum class ChangeKind { CheckIn, Delete };

namespace ImpactText {
// The office setting; on unless an administrator turned it off.
inline const QString Setting = QStringLiteral("修改前提示使用位置");
inline const QString SettingLabel = QStringLiteral("入库新版本或删除图纸前，提示使用该零件的产品");
} // namespace ImpactText

// The question to ask before the drawings of these codes are replaced or deleted, or an empty text
// when there is nothing to ask: the office turned it off, no code is in the library yet (a first
// check-in changes nothing anyone used), or no stored structure uses them. Throws velda::Error.
QString ImpactQuestion(Session& session, const QStringList& codes, ChangeKind kind);

// Asks that question through the session's feedback; true to go on. A question that cannot be worked
// out (the database went away) is not asked: the change itself then meets the same fault and says so.
bool ConfirmChange(Session& session, const QStringList& codes, ChangeKind kind);

} // namespace velda
