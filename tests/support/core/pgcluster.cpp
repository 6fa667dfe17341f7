#include "pgcluster.h"

#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace korvana::test {

namespace {

QString serverBinaries()
{
    QStringList versions = QDir(u"/usr/lib/postgresql"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = versions.crbegin(); it != versions.crend(); ++it)
        if (const QString bin = u"/usr/lib/postgresql/%1/bin"_s.arg(*it); QFile::exists(bin + u"/pg_ctl"_s))
            return bin;
    return {};
}

// libpq ignores a password file that others may read.
void writeFile(const QString &path, const QString &text, QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text.toUtf8());
    f.setPermissions(permissions);
}

} // namespace

QString PgCluster::skipReason()
{
    if (serverBinaries().isEmpty())
        return u"no PostgreSQL server programs in /usr/lib/postgresql/*/bin (./run.sh test installs postgresql)"_s;
    if (::geteuid() == 0 && QStandardPaths::findExecutable(u"runuser"_s).isEmpty())
        return u"running as root without runuser to start the server as another user"_s;
    return {};
}

bool PgCluster::run(QStringList command, bool asServer)
{
    const QString shown = command.join(u' ');
    if (asServer && ::geteuid() == 0)
        command = QStringList{u"runuser"_s, u"-u"_s, u"nobody"_s, u"--"_s} + command;
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(command.takeFirst(), command);
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    m_error = shown + u": "_s + QString::fromLocal8Bit(p.readAll());
    return false;
}

bool PgCluster::pgCtl(const QStringList &args)
{
    return run(QStringList{m_bin + u"/pg_ctl"_s, u"-D"_s, m_dir.filePath(u"data"_s), u"-l"_s,
                           m_dir.filePath(u"sock/log"_s), u"-w"_s, u"-t"_s, u"60"_s}
               + args);
}

void PgCluster::addService(const QString &name, const QString &user, const QString &password, const QString &db)
{
    // Port 5432 on the cluster's own socket folder: never in use by another.
    m_services += u"[%1]\nhost=%2/sock\nport=5432\ndbname=%3\nuser=%4\n\n"_s.arg(
        name, m_dir.path(), db.isEmpty() ? u"korvana"_s : db, user);
    m_passwords += u"*:*:*:%1:%2\n"_s.arg(user, password);
    writeFiles();
}

void PgCluster::writeFiles()
{
    const QString services = m_dir.filePath(u"pg_service.conf"_s), passwords = m_dir.filePath(u"pgpass"_s);
    writeFile(services, m_services);
    writeFile(passwords, m_passwords);
    qputenv("PGSERVICEFILE", QFile::encodeName(services));
    qputenv("PGPASSFILE", QFile::encodeName(passwords));
}

bool PgCluster::start()
{
    m_bin = serverBinaries();
    const QString data = m_dir.filePath(u"data"_s), sock = m_dir.filePath(u"sock"_s);
    if (!m_dir.isValid() || m_bin.isEmpty() || !QDir().mkpath(sock) || !QDir().mkpath(data)) {
        m_error = u"no folder or no server programs"_s;
        return false;
    }
    QFile::setPermissions(data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeFile(m_dir.filePath(u"superpw"_s), u"super-secret\n"_s, QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup);
    // The server's user must reach its folders; the socket folder also takes the socket.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                            | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    // Settings for a throw-away server: no TCP, nothing synced to disk.
    const QString conf = u"\nlisten_addresses = ''\nport = 5432\nunix_socket_directories = '%1'\nfsync = off\n"
                         "synchronous_commit = off\nfull_page_writes = off\nmax_connections = 30\n"_s.arg(sock);
    if ((::geteuid() == 0 && !run({u"chown"_s, u"nobody"_s, sock, data}, false))
        || !run({m_bin + u"/initdb"_s, u"-D"_s, data, u"-U"_s, u"postgres"_s, u"--auth=scram-sha-256"_s,
                 u"--pwfile="_s + m_dir.filePath(u"superpw"_s), u"-E"_s, u"UTF8"_s, u"--locale=C.UTF-8"_s, u"--no-sync"_s})
        || !run({u"sh"_s, u"-c"_s, u"cat >> \"$0\" <<'EOF'\n%1EOF"_s.arg(conf), data + u"/postgresql.conf"_s})
        || !restart())
        return false;

    m_services.clear();
    m_passwords.clear();
    // The superuser's entry names its own database until korvana exists.
    addService(kSuper, u"postgres"_s, u"super-secret"_s, u"postgres"_s);
    addService(kLoader, u"korvana_loader"_s, u"load-pw"_s);
    addService(kSeat, u"korvana_seat"_s, u"seat-pw"_s);
    // The administrator's lines of README.md, "An office on one server".
    PgConnection super;
    const bool open = super.open(kSuper);
    for (const QString &sql : {u"CREATE ROLE korvana_loader LOGIN PASSWORD 'load-pw'"_s,
                               u"CREATE ROLE korvana_seat LOGIN PASSWORD 'seat-pw'"_s,
                               u"CREATE DATABASE korvana OWNER korvana_loader"_s,
                               u"REVOKE ALL ON DATABASE korvana FROM PUBLIC"_s,
                               u"GRANT CONNECT ON DATABASE korvana TO korvana_seat"_s}) {
        if (!open || !super.run(sql)) {
            m_error = sql + u": "_s + super.error();
            return false;
        }
    }
    // From now on the superuser looks into the office database.
    m_services.replace(u"dbname=postgres"_s, u"dbname=korvana"_s);
    writeFiles();
    return true;
}

bool PgCluster::createSchema()
{
    PgConnection loader;
    if (!loader.open(kLoader)) {
        m_error = loader.error();
        return false;
    }
    return ensureServerSchema(loader, &m_error);
}

} // namespace korvana::test
