#include "core/TextRules.h"

namespace velda {

bool HasUnstorableCharacter(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.isSurrogate() || c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

QString TypedCode(const QString& text) { return text.trimmed(); }

bool CodeFits(const QString& code) { return code.toUtf8().size() <= kMaxCodeBytes; }

} // namespace velda
