#include "core/server/officenotes.h"

#include "core/store/store.h"

namespace korvana {

namespace {

// A save is made while the user waits: a server gone quiet must not hold the window long.
constexpr int kConnectTimeout = 3;

} // namespace

OfficeNotes::OfficeNotes(const QString &service, Store *mirror, PersonalMode mode, QObject *parent)
    : QObject(parent), m_service(service), m_mirror(mirror), m_mode(mode)
{
    if (m_mirror)
        m_notes = std::make_unique<ServerNotes>(m_db, *m_mirror, mode);
}

QString OfficeNotes::offlineText() const
{
    return QStringLiteral("Нет связи с сервером справочника «%1»: изменение не сохранено.\n"
                          "МОЙ справочник показан таким, каким был при последней связи.")
        .arg(m_service);
}

void OfficeNotes::setOnline(bool online)
{
    if (std::exchange(m_online, online) != online)
        emit onlineChanged(online);
}

bool OfficeNotes::refresh()
{
    if (!m_notes)
        return false;
    if (!m_db.isOpen() && !m_db.open(m_service, kConnectTimeout)) {
        setOnline(false);
        return false;
    }
    QString error;
    const bool ok = m_notes->refresh(&error);
    // A failed read on a connection that is still up is the mirror's fault, not the server's.
    setOnline(ok || m_db.isOpen());
    if (!m_db.isOpen())
        m_db.close();
    if (ok)
        emit mirrorChanged();
    return ok;
}

int OfficeNotes::addEntries(const QList<QVariantList> &rows)
{
    m_error.clear();
    if (!m_online || !m_db.isOpen()) {
        m_error = offlineText();
        return -1;
    }
    const int added = addNotes(m_db, rows, m_mode, &m_error);
    refresh();
    return added;
}

bool OfficeNotes::saved(const NoteSave &save)
{
    m_conflict = save.status == NoteSave::Status::Changed || save.status == NoteSave::Status::Deleted;
    if (save.status == NoteSave::Status::Failed && !m_db.isOpen()) {
        // Lost on the way: nothing is queued; the user is told and the row stays as typed.
        m_db.close();
        setOnline(false);
        m_error = offlineText();
        return false;
    }
    m_error = save.reason();
    if (save.status != NoteSave::Status::Failed)
        emit mirrorChanged();
    return save.ok();
}

bool OfficeNotes::insertRow(const QVariantList &values)
{
    if (!m_online || !m_notes)
        return saved(NoteSave{});
    return saved(m_notes->insert(values));
}

bool OfficeNotes::editRow(qint64 rowid, const QHash<int, QVariant> &values)
{
    if (!m_online || !m_notes)
        return saved(NoteSave{});
    return saved(m_notes->edit(rowid, values));
}

bool OfficeNotes::deleteRow(qint64 rowid)
{
    if (!m_online || !m_notes)
        return saved(NoteSave{});
    return saved(m_notes->remove(rowid));
}

} // namespace korvana
