#include "core/ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace velda {

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
    return true;
}

} // namespace velda
