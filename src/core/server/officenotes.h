#pragma once

#include "core/search/recordsource.h"
#include "core/server/pgconnection.h"
#include "core/server/servernotes.h"

#include <QObject>

#include <memory>

namespace korvana {

class Store;

// A seat's «Мой» in an office: the personal record source writes through
// it to the server, and it keeps the Note table of the seat's copy (the
// mirror the searches read) equal to the server's rows. Out of reach, the
// mirror keeps the last rows seen and every change is refused with a
// message; refresh() (on every notice, and when the watch is back) takes
// the server's rows again.
class OfficeNotes : public QObject, public RecordWriter {
    Q_OBJECT
public:
    OfficeNotes(const QString &service, Store *mirror, PersonalMode mode = PersonalMode::Shared,
                QObject *parent = nullptr);

    bool isOnline() const { return m_online; }
    QString service() const { return m_service; }
    PersonalMode mode() const { return m_mode; }

    // Reads the server's rows into the mirror (connecting first if need be).
    bool refresh();

    // Adds entries to the seat's list on the server, leaving out those it
    // holds already, then refreshes. The number added, or -1 with lastError().
    int addEntries(const QList<QVariantList> &rows);

    bool insertRow(const QVariantList &values) override;
    bool editRow(qint64 rowid, const QHash<int, QVariant> &values) override;
    bool deleteRow(qint64 rowid) override;
    QString lastError() const override { return m_error; }
    bool lastWasConflict() const override { return m_conflict; }

signals:
    // The mirror may hold other rows now.
    void mirrorChanged();
    void onlineChanged(bool online);

private:
    bool saved(const NoteSave &save);
    void setOnline(bool online);
    QString offlineText() const;

    QString m_service;
    Store *m_mirror;
    PersonalMode m_mode;
    PgConnection m_db;
    std::unique_ptr<ServerNotes> m_notes;
    bool m_online = false;
    bool m_conflict = false;
    QString m_error;
};

} // namespace korvana
