#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// The archive's date and time as the window shows them: the locale's short
// date, and its long time without the time-zone name (the archive keeps local
// time and no zone).
QString archiveDateText(const QDate &date, const QLocale &locale = QLocale::system());
QString archiveTimeText(const QTime &time, const QLocale &locale = QLocale::system());

// Loads Qt's own translations (qtbase) for the system's language, so that
// standard buttons and dialogs speak like the rest of the desktop. Call once
// the application exists; false when the system's language has none.
bool installQtTranslations();
