#include "core/server/editionwatch.h"

#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"
#include "core/server/servernotes.h"

#include <QSocketNotifier>
#include <QTimer>

#include <libpq-fe.h>


namespace korvana {

namespace {

constexpr int kConnectTimeoutMs = 10000;

} // namespace

EditionWatch::EditionWatch(const QString &service, QObject *parent)
    : QObject(parent), m_service(service), m_retry(new QTimer(this)), m_timeout(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &EditionWatch::attempt);
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this,
            [this] { failed(QStringLiteral("сервер не ответил за %1 с").arg(kConnectTimeoutMs / 1000)); });
}

EditionWatch::~EditionWatch() { dropConnection(); }

void EditionWatch::start() { attempt(); }

void EditionWatch::dropConnection()
{
    m_notifier.reset();
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_timeout->stop();
}

void EditionWatch::failed(const QString &reason)
{
    const bool wasListening = m_state == State::Listening;
    dropConnection();
    m_state = State::Idle;
    if (wasListening)
        emit connectionLost(reason);
    m_retry->start(m_retryMs);
}

void EditionWatch::attempt()
{
    dropConnection();
    m_conn = PgConnection::connectTo(m_service, kConnectTimeoutMs / 1000, false);
    if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD) {
        failed(m_conn ? tidyServerError(PQerrorMessage(m_conn)) : QStringLiteral("нет памяти"));
        return;
    }
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
    m_state = State::Connecting;
    m_timeout->start(kConnectTimeoutMs);
    watchSocket(true);
}

void EditionWatch::watchSocket(bool forWriting)
{
    m_notifier.reset();
    const int fd = PQsocket(m_conn);
    if (fd < 0) {
        failed(tidyServerError(PQerrorMessage(m_conn)));
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(
        fd, forWriting ? QSocketNotifier::Write : QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this,
            [this] { m_state == State::Connecting ? poll() : readInput(); });
}

void EditionWatch::poll()
{
    switch (PQconnectPoll(m_conn)) {
    case PGRES_POLLING_READING: watchSocket(false); return;
    case PGRES_POLLING_WRITING: watchSocket(true); return;
    case PGRES_POLLING_FAILED: failed(tidyServerError(PQerrorMessage(m_conn))); return;
    default: break;
    }
    // Connected: listen first, then ask, so that no edition loaded in between
    // is missed. Two statements, not one text: a server without the schema
    // yet fails the question, and must not take the LISTEN back with it.
    m_timeout->stop();
    PQsetnonblocking(m_conn, 1);
    m_pending = {"LISTEN " + QByteArray(kEditionChannel), "LISTEN " + QByteArray(kNoteChannel),
                 "SELECT edition FROM korvana.served"};
    m_state = State::Querying;
    sendNext();
    if (m_conn)
        watchSocket(false);
}

void EditionWatch::sendNext()
{
    if (m_pending.isEmpty()) {
        m_state = State::Listening;
        // Changes made while this seat was not listening are read now.
        emit notesChanged();
        return;
    }
    if (!PQsendQuery(m_conn, m_pending.takeFirst().constData())) {
        failed(tidyServerError(PQerrorMessage(m_conn)));
        return;
    }
    PQflush(m_conn);
}

void EditionWatch::readInput()
{
    if (!PQconsumeInput(m_conn)) {
        failed(tidyServerError(PQerrorMessage(m_conn)));
        return;
    }
    while (m_state == State::Querying && !PQisBusy(m_conn)) {
        PGresult *r = PQgetResult(m_conn);
        if (!r) {
            sendNext();
            continue;
        }
        // No schema yet is a server without editions: keep listening for the first.
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1)
            emit servedEditionIs(QByteArray(PQgetvalue(r, 0, 0)).toLongLong());
        PQclear(r);
    }
    bool notes = false;
    while (PGnotify *notice = PQnotifies(m_conn)) {
        const qint64 id = QByteArray(notice->extra).toLongLong();
        notes = notes || qstrcmp(notice->relname, kNoteChannel) == 0;
        PQfreemem(notice);
        if (id > 0)
            emit servedEditionIs(id);
    }
    // One refresh for a burst of notices.
    if (notes)
        emit notesChanged();
    if (PQstatus(m_conn) == CONNECTION_BAD)
        failed(tidyServerError(PQerrorMessage(m_conn)));
}

} // namespace korvana
