#pragma once

#include <QString>

class QCoreApplication;

namespace velda {

// Loads Qt's own Chinese texts (standard buttons, file dialogs, context menus) from the folder Qt
// was built with, or from the given one. Returns false when they are not installed; the program
// then runs with Qt's English texts.
bool LoadQtChineseTranslations(QCoreApplication& app, const QString& folder = {});

} // namespace velda
