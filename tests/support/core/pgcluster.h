#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QTest>

namespace korvana::test {

// A throw-away PostgreSQL cluster for one test program: its own folder, a
// socket in that folder and no TCP port, password logins only. As root
// (CI) the server runs as the user nobody, because PostgreSQL refuses root.
// Its service and password files are put in PGSERVICEFILE and PGPASSFILE,
// so the code under test reaches it by service name, as a seat does.
class PgCluster {
public:
    // The loading role, a seat's role, and the superuser for checks from outside.
    static inline const QString kLoader = QStringLiteral("office_load");
    static inline const QString kSeat = QStringLiteral("office");
    static inline const QString kSuper = QStringLiteral("office_super");

    ~PgCluster() { m_running && stop(); }
    // Why no cluster can be made here; empty when one can.
    static QString skipReason();
    // initdb, start, roles and database as README.md sets them up; false with error().
    bool start();
    // The schema korvana, made as the loader makes it with its first load; false with error().
    bool createSchema();
    bool stop() { return !(m_running = !pgCtl({QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")})); }
    bool restart() { return m_running = pgCtl({QStringLiteral("start")}); }
    QString error() const { return m_error; }
    // A further service entry: `user` with `password` in the password file.
    void addService(const QString &name, const QString &user, const QString &password, const QString &db = {});

private:
    bool run(QStringList command, bool asServer = true);
    bool pgCtl(const QStringList &args);
    void writeFiles();

    QTemporaryDir m_dir;
    QString m_bin, m_error, m_services, m_passwords;
    bool m_running = false;
};

} // namespace korvana::test

// In a test's initTestCase: skips the whole test where no cluster can be
// made here, else starts `cluster` and fails if it does not start.
#define KORVANA_START_CLUSTER(cluster)                                                        \
    do {                                                                                      \
        if (const QString why = korvana::test::PgCluster::skipReason(); !why.isEmpty())       \
            QSKIP(qPrintable(why));                                                           \
        QVERIFY2((cluster).start(), qPrintable((cluster).error()));                           \
    } while (false)
