#include "pgcluster.h"

#include "core/server/pgconnection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace korvana::test {

namespace {

constexpr int kPort = 5432; // on the cluster's own socket folder: never in use by another

QString serverBinaries()
{
    const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*it);
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

bool writeFile(const QString &path, const QString &text, QFile::Permissions permissions)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0
        && f.setPermissions(permissions);
}

} // namespace

PgCluster::~PgCluster()
{
    if (m_running)
        stop();
}

QString PgCluster::skipReason()
{
    if (serverBinaries().isEmpty())
        return QStringLiteral("no PostgreSQL server programs in /usr/lib/postgresql/*/bin "
                              "(./run.sh test installs the package postgresql)");
    if (::geteuid() == 0 && QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty())
        return QStringLiteral("running as root without runuser to start the server as another user");
    return {};
}

bool PgCluster::run(const QStringList &command, bool asServer)
{
    QStringList argv = command;
    if (asServer && ::geteuid() == 0)
        argv = QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("nobody"),
                           QStringLiteral("--")}
            + argv;
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(argv.takeFirst(), argv);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = command.join(QLatin1Char(' ')) + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

void PgCluster::addService(const QString &name, const QString &user, const QString &password)
{
    m_services += QStringLiteral("[%1]\nhost=%2/sock\nport=%3\ndbname=korvana\nuser=%4\n\n")
                      .arg(name, m_dir.path())
                      .arg(kPort)
                      .arg(user);
    m_passwords += QStringLiteral("*:*:*:%1:%2\n").arg(user, password);
    writeFiles();
}

void PgCluster::writeFiles()
{
    const QString services = m_dir.filePath(QStringLiteral("pg_service.conf"));
    const QString passwords = m_dir.filePath(QStringLiteral("pgpass"));
    // libpq ignores a password file that others may read.
    writeFile(services, m_services, QFile::ReadOwner | QFile::WriteOwner);
    writeFile(passwords, m_passwords, QFile::ReadOwner | QFile::WriteOwner);
    qputenv("PGSERVICEFILE", QFile::encodeName(services));
    qputenv("PGPASSFILE", QFile::encodeName(passwords));
}

bool PgCluster::start()
{
    m_bin = serverBinaries();
    if (!m_dir.isValid() || m_bin.isEmpty()) {
        m_error = QStringLiteral("no folder or no server programs");
        return false;
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    const QString sock = m_dir.filePath(QStringLiteral("sock"));
    const QString pwfile = m_dir.filePath(QStringLiteral("superpw"));
    QDir().mkpath(sock);
    QDir().mkpath(data);
    QFile::setPermissions(data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeFile(pwfile, QStringLiteral("super-secret\n"), QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup);
    // The server's user must reach its folders; the socket folder also takes the socket.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                            | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup
                                            | QFile::ExeGroup);
    if (::geteuid() == 0 && !run({QStringLiteral("chown"), QStringLiteral("nobody"), sock, data}, false))
        return false;
    if (!run({m_bin + QStringLiteral("/initdb"), QStringLiteral("-D"), data, QStringLiteral("-U"),
              QStringLiteral("postgres"), QStringLiteral("--auth=scram-sha-256"),
              QStringLiteral("--pwfile=") + pwfile, QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C.UTF-8"), QStringLiteral("--no-sync")},
             true))
        return false;
    // Settings for a throw-away server: no TCP, nothing synced to disk.
    const QString conf = QStringLiteral("\nlisten_addresses = ''\nport = %1\nunix_socket_directories = '%2'\n"
                                        "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
                                        "max_connections = 30\n")
                             .arg(kPort)
                             .arg(sock);
    if (!run({QStringLiteral("sh"), QStringLiteral("-c"),
              QStringLiteral("cat >> \"$0\" <<'EOF'\n%1EOF").arg(conf), data + QStringLiteral("/postgresql.conf")},
             true))
        return false;
    if (!startServer())
        return false;

    m_services.clear();
    m_passwords.clear();
    // The superuser's entry names its own database: korvana does not exist yet.
    m_services += QStringLiteral("[%1]\nhost=%2\nport=%3\ndbname=postgres\nuser=postgres\n\n")
                      .arg(kSuper, sock)
                      .arg(kPort);
    m_passwords += QStringLiteral("*:*:*:postgres:super-secret\n");
    addService(kLoader, QStringLiteral("korvana_loader"), QStringLiteral("load-pw"));
    addService(kSeat, QStringLiteral("korvana_seat"), QStringLiteral("seat-pw"));

    // The administrator's lines of README.md, "An office on one server".
    PgConnection super;
    if (!super.open(kSuper)) {
        m_error = super.error();
        return false;
    }
    for (const QString &sql : {
             QStringLiteral("CREATE ROLE korvana_loader LOGIN PASSWORD 'load-pw'"),
             QStringLiteral("CREATE ROLE korvana_seat LOGIN PASSWORD 'seat-pw'"),
             QStringLiteral("CREATE DATABASE korvana OWNER korvana_loader"),
             QStringLiteral("REVOKE ALL ON DATABASE korvana FROM PUBLIC"),
             QStringLiteral("GRANT CONNECT ON DATABASE korvana TO korvana_seat"),
         }) {
        if (!super.run(sql)) {
            m_error = sql + QStringLiteral(": ") + super.error();
            return false;
        }
    }
    // From now on the superuser looks into the office database.
    m_services.replace(QStringLiteral("dbname=postgres"), QStringLiteral("dbname=korvana"));
    writeFiles();
    return true;
}

bool PgCluster::startServer()
{
    m_running = run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                     QStringLiteral("-l"), m_dir.filePath(QStringLiteral("sock/log")), QStringLiteral("-w"),
                     QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")},
                    true);
    return m_running;
}

bool PgCluster::stop()
{
    m_running = !run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                      QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")},
                     true);
    return !m_running;
}

bool PgCluster::restart() { return startServer(); }

} // namespace korvana::test
