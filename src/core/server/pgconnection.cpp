#include "core/server/pgconnection.h"

#include <QRegularExpression>

#include <libpq-fe.h>

#include <vector>

namespace korvana {

QString tidyServerError(const QByteArray &message)
{
    QString text = QString::fromUtf8(message).simplified();
    static const QRegularExpression severity(QStringLiteral("\\b(FATAL|ERROR|ВАЖНО|ОШИБКА):\\s*"));
    text.remove(severity);
    return text;
}

PgResult::PgResult(pg_result *result) : m_result(result, PQclear)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    m_ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!m_ok)
        m_error = result ? tidyServerError(PQresultErrorMessage(result)) : QStringLiteral("нет ответа сервера");
}

QByteArray PgResult::sqlState() const
{
    const char *state = m_result ? PQresultErrorField(m_result.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state ? QByteArray(state) : QByteArray();
}

int PgResult::rows() const { return m_ok ? PQntuples(m_result.get()) : 0; }

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result.get(), row, column),
                             PQgetlength(m_result.get(), row, column));
}

QByteArray PgResult::bytes(int row, int column) const
{
    return QByteArray(PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column));
}

bool PgResult::isNull(int row, int column) const { return PQgetisnull(m_result.get(), row, column); }

PgConnection::~PgConnection() { close(); }

pg_conn *PgConnection::connectTo(const QString &service, int connectTimeout, bool wait)
{
    const QByteArray name = service.toUtf8();
    const QByteArray timeout = QByteArray::number(connectTimeout);
    const char *keys[] = {"service", "connect_timeout", "application_name", "client_encoding", nullptr};
    const char *values[] = {name.constData(), timeout.constData(), "korvana", "UTF8", nullptr};
    return wait ? PQconnectdbParams(keys, values, 0) : PQconnectStartParams(keys, values, 0);
}

bool PgConnection::open(const QString &service, int connectTimeout)
{
    close();
    m_service = service;
    m_conn = connectTo(service, connectTimeout, true);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        m_error = tidyServerError(PQerrorMessage(m_conn));
        close();
        return false;
    }
    // Keep libpq's notices (a CREATE ... IF NOT EXISTS that skips) off stderr.
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
    m_error.clear();
    return true;
}

void PgConnection::close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool PgConnection::isOpen() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }

PgResult PgConnection::exec(const QString &sql, const QList<PgParam> &params, bool binaryResult)
{
    if (!m_conn) {
        m_error = QStringLiteral("нет соединения с сервером");
        return PgResult();
    }
    const QByteArray text = sql.toUtf8();
    std::vector<const char *> values;
    std::vector<int> lengths, formats;
    for (const PgParam &p : params) {
        values.push_back(p.isNull ? nullptr : p.value.constData());
        lengths.push_back(int(p.value.size()));
        formats.push_back(p.isBinary ? 1 : 0);
    }
    PgResult result(PQexecParams(m_conn, text.constData(), int(params.size()), nullptr, values.data(),
                                 lengths.data(), formats.data(), binaryResult ? 1 : 0));
    if (!result.ok())
        m_error = PQstatus(m_conn) == CONNECTION_OK ? result.error()
                                                    : tidyServerError(PQerrorMessage(m_conn));
    return result;
}

bool PgConnection::run(const QString &sql, const QList<PgParam> &params)
{
    return exec(sql, params).ok();
}

} // namespace korvana
