// Import of the town's Access files into the directory store.
#include "app/importdialog.h"
#include "app/mdbimport.h"
#include "search/directorykind.h"
#include "search/store.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <glib.h>
#include <mdbtools.h>

using namespace korvana;

namespace {

const QString kFixtures = QStringLiteral(KORVANA_FIXTURES "/access/");

using Rows = QList<QVariantList>;

// The fixtures' CSV: every value quoted with inner quotes doubled, NULL an
// empty unquoted field, "" an empty string. Values hold no line breaks.
Rows readCsv(const QString &path, QStringList *header)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    Rows rows;
    bool first = true;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        if (line.endsWith(QLatin1Char('\n')))
            line.chop(1);
        if (first) {
            *header = line.split(QLatin1Char(','));
            first = false;
            continue;
        }
        QVariantList values;
        int i = 0;
        while (true) {
            if (i < line.size() && line[i] == QLatin1Char('"')) {
                QString value(QLatin1String(""));
                ++i;
                while (i < line.size()) {
                    if (line[i] == QLatin1Char('"')) {
                        if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                            value += QLatin1Char('"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    value += line[i++];
                }
                values << value;
            } else {
                values << QVariant();
            }
            if (i >= line.size())
                break;
            Q_ASSERT(line[i] == QLatin1Char(','));
            ++i;
            if (i == line.size()) {
                values << QVariant(); // trailing empty field
                break;
            }
        }
        rows << values;
    }
    return rows;
}

Rows readTable(Store &store, DirectoryKind kind)
{
    const TableInfo &t = tableInfo(kind);
    Statement *s = store.statement(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                                       .arg(t.fields.join(QStringLiteral(", ")), t.table));
    Rows rows;
    if (!s)
        return rows;
    Statement::Use use(*s);
    while (s->step() == 100 /* SQLITE_ROW */) {
        QVariantList values;
        for (int i = 0; i < t.fields.size(); ++i)
            values << s->column(i);
        rows << values;
    }
    return rows;
}

QStringList querySingle(Store &store, const QString &sql)
{
    QStringList out;
    Statement *s = store.statement(sql);
    if (!s)
        return {QStringLiteral("<bad sql>")};
    Statement::Use use(*s);
    while (s->step() == 100)
        out << s->column(0).toString();
    out.sort();
    return out;
}

QByteArray sha256(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void patch16(QByteArray &bytes, qsizetype at, quint16 v)
{
    bytes[at] = char(v & 0xff);
    bytes[at + 1] = char(v >> 8);
}

quint32 get32(const QByteArray &bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8
        | quint32(quint8(bytes[at + 2])) << 16 | quint32(quint8(bytes[at + 3])) << 24;
}

// The page of a table's definition, as libmdb finds it.
long tableDefPage(const QString &mdbPath, const char *table)
{
    MdbHandle *mdb = mdb_open(QFile::encodeName(mdbPath).constData(), MDB_NOFLAGS);
    if (!mdb)
        return -1;
    long page = -1;
    if (mdb_read_catalog(mdb, MDB_TABLE)) {
        if (MdbCatalogEntry *e = mdb_get_catalogentry_by_name(mdb, table))
            page = long(e->table_pg);
    }
    mdb_close(mdb);
    return page;
}

// Makes the Note table of a copy declare `declared` rows and, if `emptyPages`,
// hold no rows on its data pages. Offsets are those of the Jet3/Jet4 page layouts.
bool rewriteNoteTable(const QString &path, bool jet3, int declared, bool emptyPages)
{
    const long tdef = tableDefPage(path, "Note");
    if (tdef < 0)
        return false;
    QByteArray bytes = readAll(path);
    const int pageSize = jet3 ? 2048 : 4096;
    patch16(bytes, tdef * pageSize + (jet3 ? 12 : 16), quint16(declared));
    int dataPages = 0;
    for (qsizetype page = 0; emptyPages && page * pageSize < bytes.size(); ++page) {
        const qsizetype at = page * pageSize;
        if (bytes[at] == 0x01 && get32(bytes, at + 4) == quint32(tdef)) {
            patch16(bytes, at + (jet3 ? 8 : 12), 0);
            ++dataPages;
        }
    }
    return (!emptyPages || dataPages > 0) && writeFile(path, bytes);
}

// Renames a table in a copy by changing one letter of its catalog name (stored once).
bool renameTable(const QString &path, const QString &from, const QString &to, bool jet3)
{
    QByteArray bytes = readAll(path);
    auto encode = [&](const QString &s) {
        return jet3 ? s.toLatin1()
                    : QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2);
    };
    const qsizetype at = bytes.indexOf(encode(from));
    if (at < 0 || bytes.indexOf(encode(from), at + 1) >= 0)
        return false;
    bytes.replace(at, encode(to).size(), encode(to));
    return writeFile(path, bytes);
}

QStringList leftovers(const QString &dir, const QString &mdbName)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(mdbName);
    return names;
}

} // namespace

class TestMdbImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const QString &name : {QStringLiteral("kadu-jet4"), QStringLiteral("cp1251-jet3")}) {
            QList<QPair<qint64, qint64>> calls;
            const ImportResult r = importAccessFile(
                kFixtures + name + QStringLiteral(".mdb"), dbOf(name), [&](qint64 done, qint64 total) {
                    calls << qMakePair(done, total);
                    return true;
                });
            QVERIFY2(r.ok, qPrintable(r.error));
            QVERIFY2(r.warnings.isEmpty(), qPrintable(r.warnings.join(QLatin1Char('\n'))));
            // Progress rises to the total the file declares and ends there.
            const qint64 total = r.residents + r.enterprises + r.personal;
            QVERIFY(!calls.isEmpty());
            QCOMPARE(calls.last(), qMakePair(total, total));
            for (int i = 1; i < calls.size(); ++i)
                QVERIFY(calls[i].first >= calls[i - 1].first && calls[i].second == total);
        }
    }

    void everyValueMatchesTheExpectedTable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kind");
        for (const char *file : {"kadu-jet4", "cp1251-jet3"}) {
            for (DirectoryKind kind :
                 {DirectoryKind::Residents, DirectoryKind::Enterprises, DirectoryKind::Personal})
                QTest::addRow("%s %s", file, qPrintable(tableInfo(kind).table))
                    << QString::fromLatin1(file) << int(kind);
        }
    }

    void everyValueMatchesTheExpectedTable()
    {
        QFETCH(QString, file);
        QFETCH(int, kind);
        const TableInfo &t = tableInfo(DirectoryKind(kind));
        QStringList header;
        const Rows expected = readCsv(kFixtures + file + QLatin1Char('.') + t.table
                                          + QStringLiteral(".csv"),
                                      &header);
        QCOMPARE(header, t.fields);
        auto store = Store::open(dbOf(file));
        QVERIFY(store);
        const Rows actual = readTable(*store, DirectoryKind(kind));
        QCOMPARE(actual.size(), expected.size());
        for (int r = 0; r < expected.size(); ++r) {
            QCOMPARE(expected[r].size(), t.fields.size());
            for (int c = 0; c < t.fields.size(); ++c) {
                const QVariant &want = expected[r][c];
                const QVariant &got = actual[r][c];
                const QByteArray where = QStringLiteral("row %1 field %2: got %3, want %4")
                                             .arg(r + 1)
                                             .arg(t.fields[c], got.isNull() ? "NULL" : got.toString(),
                                                  want.isNull() ? "NULL" : want.toString())
                                             .toUtf8();
                QVERIFY2(got.isNull() == want.isNull() && got.toString() == want.toString(),
                         where.constData());
            }
        }
    }

    // Values the CSV reader itself could get wrong: "" against NULL, blanks, Jet3 Cyrillic.
    void delicateValuesSurvive()
    {
        auto jet4 = Store::open(dbOf(QStringLiteral("kadu-jet4")));
        auto jet3 = Store::open(dbOf(QStringLiteral("cp1251-jet3")));
        QVERIFY(jet4 && jet3);
        const QString sql = QStringLiteral("SELECT quote(Family) FROM NASELEN WHERE N_tel = '%1'");
        QCOMPARE(querySingle(*jet4, sql.arg("95511")), QStringList{"''"});
        QCOMPARE(querySingle(*jet4, sql.arg("21734")), QStringList{"'  Сидоров С.С.  '"});
        QCOMPARE(querySingle(*jet4, sql.arg("27419")), QStringList{"'Д''Артаньян Ш.'"});
        QCOMPARE(querySingle(*jet3, sql.arg("91005")), QStringList{"'Їжак О.О.'"});
        QCOMPARE(querySingle(*jet3, QStringLiteral("SELECT quote(Street) FROM NASELEN WHERE N_tel = '91007'")),
                 QStringList{"NULL"});
    }

    // The folded shadow columns make the imported text searchable without regard to case or ё.
    void foldedColumnsFindImportedRows_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("expected");
        const QString family = QStringLiteral("SELECT Family FROM NASELEN WHERE k_family GLOB ");
        QTest::newRow("петр, all cases")
            << "kadu-jet4" << family + "'петр*'" << expectedPrefix("kadu-jet4", "петр");
        QTest::newRow("ё as е") << "kadu-jet4" << family + "'елк*'" << expectedPrefix("kadu-jet4", "елк");
        QTest::newRow("underscore literal")
            << "kadu-jet4" << family + "'тест_*'" << QStringList{QStringLiteral("Тест_100%")};
        QTest::newRow("Jet3 петр")
            << "cp1251-jet3" << family + "'петр*'"
            << QStringList{QStringLiteral("ПЕТРОВ П.П."), QStringLiteral("петрова н.н.")};
        QTest::newRow("street prefix Лес")
            << "kadu-jet4"
            << QStringLiteral("SELECT DISTINCT Street FROM NASELEN WHERE k_street GLOB 'лес*'")
            << QStringList{QStringLiteral("Лесная"), QStringLiteral("Лесопарковая")};
    }

    void foldedColumnsFindImportedRows()
    {
        QFETCH(QString, file);
        QFETCH(QString, sql);
        QFETCH(QStringList, expected);
        auto store = Store::open(dbOf(file));
        QVERIFY(store);
        QVERIFY(!expected.isEmpty());
        expected.sort();
        QCOMPARE(querySingle(*store, sql), expected);
    }

    void unreadableSourcesFailCleanly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        const QByteArray jet4 = readAll(kFixtures + QStringLiteral("kadu-jet4.mdb"));
        QVERIFY(jet4.size() > 8192);
        QByteArray random(64 * 1024, '\0');
        QRandomGenerator gen(4711);
        for (char &c : random)
            c = char(gen.bounded(256));
        const QString notAccess = QStringLiteral("не является базой данных Access");
        QTest::newRow("random bytes") << random << notAccess;
        QTest::newRow("text file") << QStringLiteral("N_tel;Family\n21734;Сидоров\n").toUtf8() << notAccess;
        QTest::newRow("empty file") << QByteArray() << notAccess;
        QTest::newRow("cut mid-page") << jet4.left(jet4.size() / 2 + 1000) << QStringLiteral("обрезан");
        QTest::newRow("cut at a page boundary") << jet4.left(jet4.size() / 2) << QStringLiteral("повреждён");
        QTest::newRow("first page only") << jet4.left(4096) << QStringLiteral("обрезан");
        QByteArray scrambled = jet4.left(4096);
        scrambled += random;
        QTest::newRow("Access header, random pages") << scrambled << QString();
    }

    // A bad source: a message naming the file, no target, no temporary file, the source unchanged.
    void unreadableSourcesFailCleanly()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString mdb = dir.filePath(QStringLiteral("kadu.mdb"));
        QVERIFY(writeFile(mdb, content));
        const ImportResult r = importAccessFile(mdb, dir.filePath(QStringLiteral("kadu.db")));
        QVERIFY(!r.ok);
        QVERIFY2(r.error.contains(QStringLiteral("kadu.mdb")), qPrintable(r.error));
        if (!message.isEmpty())
            QVERIFY2(r.error.contains(message), qPrintable(r.error));
        QCOMPARE(leftovers(dir.path(), QStringLiteral("kadu.mdb")), QStringList());
        QCOMPARE(readAll(mdb), content);
    }

    // A missing table leaves its directory empty; names match without regard to case.
    void missingTablesLeaveTheirDirectoryEmpty()
    {
        QTemporaryDir dir;
        const QString mdb = copyFixture(dir, QStringLiteral("kadu-jet4"));
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        QVERIFY(renameTable(mdb, QStringLiteral("Note"), QStringLiteral("Nota"), false));
        QVERIFY(renameTable(mdb, QStringLiteral("NASELEN"), QStringLiteral("naselen"), false));
        const QByteArray before = sha256(mdb);

        ImportResult r = importAccessFile(mdb, db);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.warnings.size(), 1);
        QVERIFY(r.warnings[0].contains(QStringLiteral("Note")) && r.warnings[0].contains("kadu.mdb"));
        QCOMPARE(r.residents, 120);
        QCOMPARE(r.enterprises, 40);
        QCOMPARE(r.personal, 0);
        {
            auto store = Store::open(db);
            QVERIFY(store);
            QCOMPARE(store->tableRowCount(DirectoryKind::Personal), 0);
        }
        QCOMPARE(sha256(mdb), before);

        // Without any of the three there is no directory to make.
        QVERIFY(QFile::remove(db));
        QVERIFY(renameTable(mdb, QStringLiteral("naselen"), QStringLiteral("naselex"), false));
        QVERIFY(renameTable(mdb, QStringLiteral("PREDPR"), QStringLiteral("PREDPX"), false));
        r = importAccessFile(mdb, db);
        QVERIFY(!r.ok);
        QVERIFY2(r.error.contains(QStringLiteral("нет таблиц")), qPrintable(r.error));
        QVERIFY(!QFile::exists(db));
    }

    void emptyAndShortTables_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("declared");
        QTest::addColumn<bool>("emptyPages");
        QTest::addColumn<bool>("ok");
        QTest::newRow("Jet4 empty Note") << "kadu-jet4" << 0 << true << true;
        QTest::newRow("Jet3 empty Note") << "cp1251-jet3" << 0 << true << true;
        // Rows the definition counts but the pages no longer hold: data was lost.
        QTest::newRow("Jet4 Note short of rows") << "kadu-jet4" << 5 << false << false;
        QTest::newRow("Jet3 Note rows gone") << "cp1251-jet3" << 3 << true << false;
    }

    void emptyAndShortTables()
    {
        QFETCH(QString, fixture);
        QFETCH(int, declared);
        QFETCH(bool, emptyPages);
        QFETCH(bool, ok);
        QTemporaryDir dir;
        const QString mdb = copyFixture(dir, fixture);
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        QVERIFY(rewriteNoteTable(mdb, fixture.contains(QStringLiteral("jet3")), declared, emptyPages));
        const ImportResult r = importAccessFile(mdb, db);
        QCOMPARE(r.ok, ok);
        QCOMPARE(QFile::exists(db), ok);
        if (ok) {
            QCOMPARE(r.personal, 0);
            QVERIFY(r.residents > 0);
            QCOMPARE(r.warnings.size(), 1);
            QVERIFY2(r.warnings[0].contains(QStringLiteral("Note")) && r.warnings[0].contains(QStringLiteral("пуста")),
                     qPrintable(r.warnings[0]));
        } else {
            QVERIFY2(r.error.contains(QStringLiteral("повреждён")) && r.error.contains(QStringLiteral("Note")),
                     qPrintable(r.error));
            QCOMPARE(leftovers(dir.path(), QStringLiteral("kadu.mdb")), QStringList());
        }
    }

    void existingTargetIsKeptUnlessOverwriting()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        const QString mdb = kFixtures + QStringLiteral("cp1251-jet3.mdb");
        QVERIFY(writeFile(db, "keep me"));
        ImportResult r = importAccessFile(mdb, db);
        QVERIFY(!r.ok);
        QVERIFY2(r.error.contains(QStringLiteral("уже существует")), qPrintable(r.error));
        QCOMPARE(readAll(db), QByteArray("keep me"));

        r = importAccessFile(mdb, db, {}, true);
        QVERIFY2(r.ok, qPrintable(r.error));
        auto store = Store::open(db);
        QVERIFY(store);
        QCOMPARE(store->tableRowCount(DirectoryKind::Residents), 10);

        // Never over the source itself, even when told to overwrite.
        const QString copy = dir.filePath(QStringLiteral("kadu.mdb"));
        QVERIFY(QFile::copy(mdb, copy));
        r = importAccessFile(copy, copy, {}, true);
        QVERIFY(!r.ok);
        QCOMPARE(sha256(copy), sha256(mdb));
    }

    void cancellingLeavesNothing_data()
    {
        QTest::addColumn<int>("cancelAtCall");
        QTest::newRow("at the start") << 1;
        QTest::newRow("midway") << 2;
        QTest::newRow("at the very end") << -1;
    }

    void cancellingLeavesNothing()
    {
        QFETCH(int, cancelAtCall);
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        int calls = 0;
        const ImportResult r = importAccessFile(kFixtures + QStringLiteral("kadu-jet4.mdb"), db,
                                                [&](qint64 done, qint64 total) {
                                                    ++calls;
                                                    return cancelAtCall < 0 ? done < total
                                                                            : calls < cancelAtCall;
                                                });
        QVERIFY(!r.ok);
        QVERIFY(r.cancelled);
        QVERIFY(!r.error.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void progressDialogImportsAndCancels()
    {
        QTemporaryDir dir;
        const QString mdb = kFixtures + QStringLiteral("kadu-jet4.mdb");
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        QString error;
        QStringList warnings{QStringLiteral("stale")};
        QVERIFY2(importAccessFileWithProgress(nullptr, mdb, db, &error, &warnings), qPrintable(error));
        QVERIFY(warnings.isEmpty());
        QVERIFY(QFile::exists(db));
        QVERIFY(QFile::remove(db));

        // A click on Cancel while the dialog runs; the timer fires inside its event processing.
        bool sawDialog = false;
        QTimer::singleShot(0, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *dialog = qobject_cast<QProgressDialog *>(w); dialog && dialog->isVisible()) {
                    sawDialog = true;
                    dialog->cancel();
                }
            }
        });
        QVERIFY(!importAccessFileWithProgress(nullptr, mdb, db, &error));
        QVERIFY(sawDialog);
        QVERIFY(!error.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void commandLineTool()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        const QString mdb = kFixtures + QStringLiteral("kadu-jet4.mdb");
        auto run = [](const QStringList &args, QByteArray *err = nullptr) {
            QProcess p;
            p.start(QStringLiteral(KORVANA_IMPORT_EXE), args);
            if (!p.waitForFinished(60000))
                return -1;
            if (err)
                *err = p.readAllStandardError();
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        QByteArray err;
        QCOMPARE(run({mdb, db}, &err), 0);
        QVERIFY2(err.contains("163"), err.constData());
        const QByteArray first = sha256(db);
        QVERIFY(!first.isEmpty());

        QVERIFY(run({kFixtures + QStringLiteral("cp1251-jet3.mdb"), db}, &err) != 0);
        QVERIFY2(QString::fromUtf8(err).contains(QStringLiteral("уже существует")), err.constData());
        QCOMPARE(sha256(db), first);
        QCOMPARE(run({QStringLiteral("--force"), kFixtures + QStringLiteral("cp1251-jet3.mdb"), db}), 0);
        QVERIFY(sha256(db) != first);

        const QString text = dir.filePath(QStringLiteral("notes.mdb"));
        QVERIFY(writeFile(text, "just text\n"));
        QVERIFY(run({text, dir.filePath(QStringLiteral("other.db"))}, &err) != 0);
        QVERIFY2(QString::fromUtf8(err).contains(QStringLiteral("notes.mdb не является базой данных Access")),
                 err.constData());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("other.db"))));
        QVERIFY(run({mdb}) != 0);
    }

private:
    // A writable copy of a fixture, named as the town's file.
    static QString copyFixture(const QTemporaryDir &dir, const QString &fixture)
    {
        const QString mdb = dir.filePath(QStringLiteral("kadu.mdb"));
        if (!QFile::copy(kFixtures + fixture + QStringLiteral(".mdb"), mdb)
            || !QFile::setPermissions(mdb, QFile::ReadOwner | QFile::WriteOwner))
            qFatal("cannot copy %s", qPrintable(fixture));
        return mdb;
    }

    QString dbOf(const QString &fixture) const
    {
        return m_dir.filePath(fixture + QStringLiteral(".db"));
    }

    // Families of the Jet4 residents whose case-folded value starts with `prefix`, from the CSV.
    static QStringList expectedPrefix(const char *fixture, const char *prefix)
    {
        QStringList header;
        QStringList out;
        for (const QVariantList &row : readCsv(kFixtures + QLatin1String(fixture)
                                                   + QStringLiteral(".NASELEN.csv"),
                                               &header)) {
            const QString family = row[1].toString();
            if (family.toLower().replace(QChar(0x451), QChar(0x435)).startsWith(QString::fromUtf8(prefix)))
                out << family;
        }
        return out;
    }

    QTemporaryDir m_dir;
};

QTEST_MAIN(TestMdbImport)
#include "tst_mdbimport.moc"
