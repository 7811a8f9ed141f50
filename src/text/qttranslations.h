#pragma once

#include <QLibraryInfo>
#include <QString>

// Qt's own texts in the program's language: the file dialog's labels and
// buttons, the text fields' menus. When the program speaks Chinese (by the
// rule of its own texts) Qt's Simplified Chinese translations from
// `directory` are installed in the application, which owns them. Qt's texts
// that reach log lines (the reasons a file or a process failed) stay
// English, as every log line does. False when nothing was installed: the
// program speaks English, or the translations are missing, which is logged.
bool installQtTranslations(const QString &directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath));
