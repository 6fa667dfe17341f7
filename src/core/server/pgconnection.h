#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

struct pg_conn;
struct pg_result;

namespace korvana {

// One result of the server; empty (not ok) when the statement failed.
class PgResult {
public:
    PgResult() = default;
    explicit PgResult(pg_result *result);
    bool ok() const { return m_ok; }
    int rows() const;
    QString text(int row, int column) const;
    QByteArray bytes(int row, int column) const; // a binary-format value
    bool isNull(int row, int column) const;
    qint64 int64(int row, int column) const { return text(row, column).toLongLong(); }
    QString error() const { return m_error; }
    QByteArray sqlState() const; // "42501" and the like; empty on success

private:
    std::shared_ptr<pg_result> m_result;
    bool m_ok = false;
    QString m_error;
};

// A value bound to a statement: text, or bytes sent in binary format.
struct PgParam {
    PgParam(const QString &text) : value(text.toUtf8()) {}
    PgParam(const char *text) : value(text) {}
    PgParam(qint64 number) : value(QByteArray::number(number)) {}
    PgParam(const QByteArray &data, bool binary) : value(data), isBinary(binary) {}
    static PgParam null()
    {
        PgParam p(QByteArray(), false);
        p.isNull = true;
        return p;
    }
    QByteArray value;
    bool isBinary = false;
    bool isNull = false;
};

// A connection to the office server, named by a libpq service: host, port,
// user, database and TLS come from pg_service.conf, the password from
// .pgpass. Values are always bound, never written into statement text.
class PgConnection {
public:
    PgConnection() = default;
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Connects, waiting at most connectTimeout seconds; false with error() set.
    bool open(const QString &service, int connectTimeout = 5);
    void close();
    bool isOpen() const;
    pg_conn *handle() const { return m_conn; }
    QString service() const { return m_service; }
    // The last failure, as libpq words it, on one line.
    QString error() const { return m_error; }

    PgResult exec(const QString &sql, const QList<PgParam> &params = {}, bool binaryResult = false);
    // A statement whose only interest is success.
    bool run(const QString &sql, const QList<PgParam> &params = {});

    // A libpq connection to a service, made at once (wait) or only begun
    // (for PQconnectPoll). The name is one value, never parsed as a
    // connection string, so no text in it can add other settings.
    static pg_conn *connectTo(const QString &service, int connectTimeout, bool wait);

private:
    pg_conn *m_conn = nullptr;
    QString m_service;
    QString m_error;
};

// libpq's message of a connection failure on one line, without its "FATAL:".
QString tidyServerError(const QByteArray &message);

} // namespace korvana
