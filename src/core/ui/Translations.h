#pragma once

#include <QString>

class QCoreApplication;

namespace velda {

// Loads Qt's own Chinese texts (standard buttons, file dialogs, context menus) from the folder Qt
// was built with, or from the given one. Returns false when they are not installed; the program
// then runs with Qt's English texts.
// Also makes the file dialog's columns Chinese: the folder type, which Qt's catalogue lacks, and file
// types, which follow the program's locale (set to Chinese here).
bool LoadQtChineseTranslations(QCoreApplication& app, const QString& folder = {});

// Before the application object exists: the file dialog shows dates in the system's time format,
// which Qt reads once at start; unless the environment already chose a Chinese one, choose it.
void PreferChineseDates();

} // namespace velda
