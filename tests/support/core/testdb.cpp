#include "testdb.h"

#include <QFile>

#include <sqlite3.h>

namespace korvana::test {

TestDb::TestDb()
{
    QString error;
    store = Store::create(path(), &error);
    if (!store)
        qFatal("cannot create test database: %s", qPrintable(error));
}

void TestDb::add(DirectoryKind kind, const QVariantList &values)
{
    if (!store->insertRow(kind, values))
        qFatal("insert failed: %s", qPrintable(store->lastError()));
}

void TestDb::reopen()
{
    store.reset();
    store = Store::open(path());
    if (!store)
        qFatal("cannot reopen test database");
}

void addSampleTown(TestDb &db)
{
    const QVariant null;
    const QList<QVariantList> residents = {
        {"21734", "Петров П.П.", "Садовая", "12", null, "5", null},
        {"24407", "петров п.п.", "садовая", "1", "а", "20", null},
        {"24408", "ПЕТРОВА Н.Н.", "Лесная", "100", null, "2", null},
        {"31207", "Ёлкина А.Б.", "Ёлочная", " 12", null, "5 ", null},
        {"23100", "Елисеев Е.Е.", "Лесопарковая", "15", "б", "7", "1"},
        {"93020", "Тест_100%", "пер. Лесной", "2", null, null, null},
        {"93021", "ТестX100X", "Ленина", "10", null, "21", null},
        {"27419", "Д'Артаньян Ш.", "Ленина", "3", null, "12", null},
        {"35550", "Їжак О.О.", "Шевченко", "19", null, null, null},
        {"2300", "Иванов И.И.", null, null, null, null, null},
    };
    for (const QVariantList &r : residents)
        db.add(DirectoryKind::Residents, r);
    const QList<QVariantList> enterprises = {
        {"Аптека №5", "21105", "приёмная", "Ленина", "3", null, null, null},
        {"аптека №12", "34212", null, "Лесная", "21", "а", null, null},
        {"Школа №3", "22303", "бухгалтерия", "Садовая", "15", null, null, null},
        {"Школа №3", "22304", "  директор  ", "Садовая", "15", null, null, null},
    };
    for (const QVariantList &r : enterprises)
        db.add(DirectoryKind::Enterprises, r);
    db.add(DirectoryKind::Personal, {"03", "Скорая помощь", null, null, null, null, null});
}

std::unique_ptr<Statement> queryStatement(sqlite3 *db, const SearchQuery &q, const char *form)
{
    auto s = std::make_unique<Statement>(db, QString::fromLatin1(form).arg(
        tableInfo(q.kind).table, q.where, q.orderColumns.join(QStringLiteral(", "))));
    for (int i = 0; i < q.parameters.size(); ++i)
        s->bindText(i + 1, q.parameters.at(i));
    return s;
}

QList<qint64> scanRowIds(sqlite3 *db, const SearchQuery &q)
{
    auto s = queryStatement(db, q, "SELECT rowid FROM %1 NOT INDEXED%2 ORDER BY %3");
    QList<qint64> ids;
    while (s->step() == SQLITE_ROW)
        ids << s->columnInt64(0);
    return ids;
}

OtherProgram::OtherProgram(const QString &path) { sqlite3_open(QFile::encodeName(path).constData(), &db); }
OtherProgram::~OtherProgram() { sqlite3_close(db); }
int OtherProgram::exec(const QString &sql) { return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr); }

} // namespace korvana::test
