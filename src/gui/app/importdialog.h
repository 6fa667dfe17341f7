#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace korvana {

class PgConnection;

// Imports an Access file into a new directory file (see importAccessFile)
// while a modal progress dialog shows "rows done of rows total" and keeps the
// window responsive. Cancel aborts the import and leaves no file at dbPath.
// Returns true on success; otherwise *error holds a message for the user
// (also when cancelled). *warnings receives what the user should still be
// told after a success (a missing or empty table).
bool importAccessFileWithProgress(QWidget *parent, const QString &mdbPath, const QString &dbPath,
                                  QString *error, QStringList *warnings = nullptr);

// The same for a new edition taken into an existing directory file (see
// updateFromAccessFile): Cancel leaves dbPath as it was.
bool updateFromAccessFileWithProgress(QWidget *parent, const QString &mdbPath, const QString &dbPath,
                                      QString *error, QStringList *warnings = nullptr);

// Takes the server's edition into a seat's copy (see fetchServedEdition)
// with the same dialog; Cancel keeps the copy as it was (*cancelled set).
bool fetchServedEditionWithProgress(QWidget *parent, PgConnection &db, const QString &copyPath,
                                    QString *error, bool *cancelled = nullptr);

} // namespace korvana
