#include "accessfixtures.h"

#include "core/store/store.h"
#include "testfiles.h"

#include <QFile>

#include <sqlite3.h>

namespace korvana::test {

QString accessFixture(const QString &name)
{
    return QStringLiteral(KORVANA_TEST_DATA "/access/") + name + QStringLiteral(".mdb");
}

void copyAccessFixture(const QString &name, const QString &path)
{
    QFile::remove(path);
    if (!QFile::copy(accessFixture(name), path)
        || !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner))
        qFatal("cannot copy %s", qPrintable(name));
}

bool renameAccessTable(const QString &path, const QString &from, const QString &to)
{
    QByteArray bytes = readBytes(path);
    const auto encode = [](const QString &s) {
        return QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2);
    };
    const qsizetype at = bytes.indexOf(encode(from));
    if (at < 0 || bytes.indexOf(encode(from), at + 1) >= 0)
        return false;
    bytes.replace(at, encode(to).size(), encode(to));
    return writeBytes(path, bytes);
}

QStringList expectedCsv(const QString &fixture, DirectoryKind kind)
{
    const QString csv = QStringLiteral(KORVANA_TEST_DATA "/access/") + fixture + u'.'
        + tableInfo(kind).table + QStringLiteral(".csv");
    return QString::fromUtf8(readBytes(csv)).split(u'\n', Qt::SkipEmptyParts);
}

QStringList strings(const QString &dbPath, const QString &sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    QStringList out;
    {
        Statement s(db, sql);
        while (s.step() == SQLITE_ROW)
            out << s.column(0).toString();
        if (!s.isValid())
            out << QStringLiteral("<error: %1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    sqlite3_close(db);
    return out;
}

QStringList tableCsv(const QString &dbPath, DirectoryKind kind)
{
    const TableInfo &t = tableInfo(kind);
    QStringList values;
    for (const QString &field : t.fields)
        values << QStringLiteral("coalesce('\"' || replace(%1, '\"', '\"\"') || '\"', '')").arg(field);
    return QStringList{t.fields.join(u',')}
        + strings(dbPath, QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                              .arg(values.join(QStringLiteral(" || ',' || ")), t.table));
}

QStringList personalRows(const QString &dbPath)
{
    QStringList values;
    for (const QString &field : tableInfo(DirectoryKind::Personal).fields)
        values << QStringLiteral("quote(%1)").arg(field);
    return strings(dbPath, QStringLiteral("SELECT rowid || ' ' || %1 FROM Note ORDER BY rowid")
                               .arg(values.join(QStringLiteral(" || "))));
}

QStringList personalBytes(const QString &dbPath, const QString &where)
{
    QStringList fields;
    for (const QString &f : tableInfo(DirectoryKind::Personal).fields)
        fields << QStringLiteral("typeof(%1) || ':' || quote(CAST(%1 AS BLOB))").arg(f);
    return strings(dbPath, QStringLiteral("SELECT rowid || ' ' || %1 FROM Note WHERE %2 ORDER BY rowid")
                               .arg(fields.join(QStringLiteral(" || ' ' || ")), where));
}

} // namespace korvana::test
