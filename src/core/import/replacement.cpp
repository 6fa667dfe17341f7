#include "core/import/replacement.h"

#include "core/app/sidefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvana {

namespace {

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

} // namespace

DirectoryReplacement::~DirectoryReplacement()
{
    if (m_newFile.isEmpty())
        return;
    QFile::remove(m_newFile);
    QFile::remove(m_newFile + QStringLiteral("-journal"));
}

QString DirectoryReplacement::targetOf(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.exists() ? info.canonicalFilePath() : QString();
    return canonical.isEmpty() ? path : canonical;
}

bool DirectoryReplacement::prepare(const QString &path, QString *error)
{
    m_target = targetOf(path);
    const QFileInfo target(m_target);
    struct stat old {};
    m_replaces = ::stat(QFile::encodeName(m_target).constData(), &old) == 0;
    // Owner-only until the owner and mode are the old file's: never wider.
    const mode_t first = m_replaces ? S_IRUSR | S_IWUSR : 0666;
    int fd = -1;
    QString name;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        name = target.absolutePath() + QLatin1Char('/') + target.fileName()
            + QStringLiteral(".import-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, first);
        if (fd < 0 && errno != EEXIST)
            break; // not a name clash: the folder cannot be written
    }
    if (fd < 0) {
        *error = QStringLiteral("Не удаётся создать файл в папке %1: %2").arg(shown(target.absolutePath()), systemError());
        return false;
    }
    m_newFile = name;
    bool ok = true;
    if (m_replaces) {
        struct stat made {};
        ok = ::fstat(fd, &made) == 0
            && ((made.st_uid == old.st_uid && made.st_gid == old.st_gid)
                || ::fchown(fd, old.st_uid, old.st_gid) == 0)
            && ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    if (!ok)
        *error = QStringLiteral("Не удаётся дать новому файлу владельца и права файла %1: %2")
                     .arg(shown(m_target), systemError());
    ::close(fd);
    return ok;
}

bool DirectoryReplacement::install(QString *error)
{
    const QByteArray from = QFile::encodeName(m_newFile);
    const QByteArray to = QFile::encodeName(m_target);
    if (m_replaces ? std::rename(from.constData(), to.constData()) != 0 : !QFile::rename(m_newFile, m_target)) {
        *error = m_replaces || !QFileInfo::exists(m_target)
            ? QStringLiteral("Не удаётся записать файл %1: %2").arg(shown(m_target), systemError())
            : QStringLiteral("Файл %1 уже существует").arg(shown(m_target));
        return false;
    }
    m_newFile.clear();
    syncDirectory(QFileInfo(m_target).absolutePath());
    return true;
}

} // namespace korvana
