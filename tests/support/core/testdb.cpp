#include "testdb.h"

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

} // namespace korvana::test
