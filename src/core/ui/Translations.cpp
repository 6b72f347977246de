#include "core/ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velda {

namespace {

// The texts of the file dialog's type column that qtbase_zh_CN of Qt 6.4 has no entry for.
class FileTypeTranslator final : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText, const char* = nullptr, int = -1) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const struct {
            const char* source;
            const char* text;
        } kTexts[] = {{"Folder", "文件夹"},
                      {"File", "文件"},
                      {"%1 File", "%1 文件"},
                      {"Drive", "驱动器"},
                      {"Shortcut", "快捷方式"}};
        for (const auto& t : kTexts)
            if (qstrcmp(sourceText, t.source) == 0)
                return QString::fromUtf8(t.text);
        return {};
    }
    bool isEmpty() const override { return false; }
};

bool IsChineseLocaleName(const QByteArray& name) { return name.startsWith("zh"); }

} // namespace

void PreferChineseDates() {
    const QByteArray all = qgetenv("LC_ALL");
    if (!all.isEmpty() || IsChineseLocaleName(qgetenv("LC_TIME")))
        return; // LC_ALL is the user's explicit choice over every category
    qputenv("LC_TIME", "zh_CN.UTF-8");
}

bool LoadQtChineseTranslations(QCoreApplication& app, const QString& folder) {
    const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(&app);
    // qtbase covers every standard dialog and widget the program shows.
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                          from)) {
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    app.installTranslator(new FileTypeTranslator(&app));
    // File types in the dialog come from the MIME database in the program's locale.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    return true;
}

} // namespace velda
