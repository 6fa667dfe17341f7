// Bad input on the real window: nasty search texts, huge side files, unusable
// directory files, the window closed during a copy question or unable to save.
#include "accessfixtures.h"
#include "appfixture.h"
#include "core/app/sidefiles.h"
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "gui/search/searchcontroller.h"
#include "testfiles.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QTabBar>
#include <QTableView>
#include <QTest>

#include <sqlite3.h>

using namespace korvana;
using korvana::test::AppFixture;
using korvana::test::TestDb;
using korvana::test::readBytes;
using korvana::test::writeBytes;

namespace {

const QString kPress = QStringLiteral("Нажмите <Enter> или <OK>");
const QString kLayout = QStringLiteral("Вы хотели сказать Э?\rПроверьте раскладку клавиатуры\r") + kPress;

qsizetype notes(const QString &dbPath) { return test::personalRows(dbPath).size(); }

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT
    std::unique_ptr<AppFixture> m_search; // one window for all search rows

private Q_SLOTS:
    void searchFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");   // the field's text afterwards
        QTest::addColumn<QString>("message"); // empty: none, and a search
        const QString house = QStringLiteral("Ввод номера дома, ЦИФРЫ\r") + kPress;
        const QString flat = QStringLiteral("Ввод номера квартиры, ЦИФРЫ\r") + kPress;
        const QString letters(10000, u'Щ'), digits(10000, u'7');
        // The number keeps an apostrophe (no valid query); the name and street
        // take it for a mistyped Э.
        QTest::newRow("number, apostrophe") << "Tent" << "Д'" << "Д'" << kLayout;
        QTest::newRow("name, apostrophe") << "Tefio" << "Д'" << "ДЭ" << kLayout;
        QTest::newRow("street, apostrophe") << "Testr" << "Д'" << "ДЭ" << kLayout;
        QTest::newRow("number, open bracket") << "Tent" << "[" << "[" << QString();
        QTest::newRow("name, close bracket") << "Tefio" << "]" << "]" << QString();
        QTest::newRow("street, LIKE wildcards") << "Testr" << "%_" << "%_" << QString();
        QTest::newRow("name, quote, backslash") << "Tefio" << "\"\\" << "\"\\" << QString();
        const QString control = QStringLiteral("1\t\x01\x1b\x7f\u200e"), emoji = QStringLiteral("😀 👍🏽");
        QTest::newRow("number, control characters") << "Tent" << control << control << QString();
        QTest::newRow("name, emoji") << "Tefio" << emoji << emoji << QString();
        QTest::newRow("street, 10000 letters") << "Testr" << letters << letters << QString();
        QTest::newRow("house, 10000 digits") << "Tedom" << digits << digits << QString();
        QTest::newRow("house, bracket") << "Tedom" << "[" << "[" << house;
        QTest::newRow("flat, 10000 letters") << "Tekv" << letters << letters << flat;
        QTest::newRow("flat, emoji") << "Tekv" << emoji << emoji << flat;
    }

    // The digits warning keeps the list without a search; otherwise the
    // search runs and the count is the source's.
    void searchFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, message);
        if (!m_search)
            m_search = std::make_unique<AppFixture>();
        AppFixture &f = *m_search;
        f.app->search()->clearCriteria();
        QLineEdit *edit = f.field(qPrintable(field));
        edit->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(edit->hasFocus());
        f.messages.clear();
        const int searchesBefore = f.app->search()->searchCount();

        if (text.size() <= 2) // typed key by key; the long ones pasted in one change
            test::typeInto(edit, text);
        else
            edit->setText(text);

        QCOMPARE(edit->text(), shown);
        QCOMPARE(f.messages.texts().value(0), message);
        RecordSource *rs = f.app->source(DirectoryKind::Residents);
        if (!message.isEmpty() && (field == QLatin1String("Tedom") || field == QLatin1String("Tekv"))) {
            QCOMPARE(f.messages.last().icon, MessageIcon::Critical);
            QCOMPARE(f.app->search()->searchCount(), searchesBefore); // the list stays
            return;
        }
        QVERIFY(f.app->search()->searchCount() > searchesBefore);
        QCOMPARE(rs->query().malformed, shown.contains(u'\''));
        if (!rs->query().malformed)
            QCOMPARE(f.count(), QStringLiteral("из %1").arg(rs->recordCount()));
    }

    void sideFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary += char((i * 7919) & 0xff);
        QByteArray many;
        for (int i = 0; i < 100000; ++i)
            many += QByteArray::number(1000 + i % 9000) + "\r\n";
        const QByteArray megaLine(1 << 20, '5');
        for (const char *file : {"kadumy.txt", "WGridCol.txt"}) {
            QTest::addRow("%s binary", file) << file << binary;
            QTest::addRow("%s 100000 lines", file) << file << many;
            QTest::addRow("%s line of a megabyte", file) << file << (megaLine + "\r\n1000\r\n");
        }
    }

    // A huge or binary side file never stops the start-up and never shows a message:
    // the lists and widths keep their defaults where the file makes no sense,
    // and the width file is written whole again at shut-down.
    void sideFiles()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        AppFixture f(test::withFile(file, content));
        QVERIFY(f.messages.texts().isEmpty());
        QVERIFY(f.app->window()->isVisible());
        QCOMPARE(f.count(), QStringLiteral("из 10"));
        auto *commy = f.control<QComboBox>("Commy");
        QVERIFY(commy->count() >= 2 && commy->count() <= 2 + kMaxOwnNumbers);
        QCOMPARE(commy->itemText(0), AppController::builtInNumbers().first());
        QVERIFY(f.control<QComboBox>("ATC")->currentIndex() >= 0);
        for (const WGridCol::CellRef &ref : widthFileOrder()) {
            const float w = f.app->widths().cell(ref.grid, ref.cell);
            QVERIFY(w > 0 && w <= kMaxStoredWidth);
        }

        const QString widths = f.db.dir.filePath(QStringLiteral("WGridCol.txt"));
        f.app->window()->close();
        const QList<QByteArray> lines = readBytes(widths).split('\n');
        QCOMPARE(lines.size(), 25); // 24 lines, each ended by CR LF
        for (int i = 0; i < 24; ++i)
            QVERIFY(lines[i].endsWith('\r'));
    }

    void directoryFile_data()
    {
        QTest::addColumn<QString>("message"); // first line; empty for none
        QTest::addColumn<int>("residents");   // rows the window shows
        const QString failed = QStringLiteral("Не удалось открыть файл справочника kadu.db:");
        QTest::newRow("missing") << QStringLiteral("Не найден файл справочника kadu.db.") << 0;
        QTest::newRow("empty") << QString() << 0; // an empty file is an empty database
        QTest::newRow("not a database") << QStringLiteral("Файл kadu.db не является базой справочника.") << 0;
        QTest::newRow("truncated") << failed << 0;
        QTest::newRow("locked") << failed << 0;
        QTest::newRow("table missing") << QString() << 10;
        QTest::newRow("read-only") << QString() << 10;
        QTest::newRow("folder read-only") << QString() << 10;
    }

    // The window comes up in every case, with the message (answered by the
    // catcher) and with empty directories when the file cannot be used.
    void directoryFile()
    {
        QFETCH(QString, message);
        QFETCH(int, residents);
        const QString variant = QString::fromLatin1(QTest::currentDataTag());
        const bool readOnly = variant.endsWith(QLatin1String("read-only"));

        sqlite3 *holder = nullptr;
        std::unique_ptr<test::AsOrdinaryUser> ordinary;
        QString dbPath;
        auto prepare = [&](TestDb &db) {
            dbPath = db.path();
            if (variant == QLatin1String("table missing"))
                QVERIFY(db.store->exec(QStringLiteral("DROP TABLE PREDPR")));
            db.store.reset();
            const QHash<QString, QByteArray> replaced{
                {"empty", {}}, {"not a database", "Петров 21734\r\n"}, {"truncated", readBytes(dbPath).left(100)}};
            if (variant == QLatin1String("missing"))
                QVERIFY(QFile::remove(dbPath));
            else if (replaced.contains(variant))
                QVERIFY(writeBytes(dbPath, replaced[variant]));
            else if (variant == QLatin1String("locked")) {
                QCOMPARE(sqlite3_open(QFile::encodeName(dbPath).constData(), &holder), SQLITE_OK);
                QCOMPARE(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
            } else if (readOnly) {
                const bool folder = variant.startsWith(QLatin1String("folder"));
                QVERIFY(QFile::setPermissions(dbPath, QFile::Permissions(folder ? 0x6666 : 0x4444)));
                QVERIFY(QFile::setPermissions(db.dir.path(), QFile::Permissions(folder ? 0x5555 : 0x7777)));
                ordinary = std::make_unique<test::AsOrdinaryUser>();
            }
        };
        {
            AppFixture f(prepare);
            if (message.isEmpty()) {
                QVERIFY2(f.messages.texts().isEmpty(), qPrintable(f.messages.texts().join('|')));
            } else {
                QCOMPARE(f.messages.count(), 1);
                QCOMPARE(f.messages.last().lines.first(), message);
                QCOMPARE(f.messages.last().icon, MessageIcon::Critical);
                QVERIFY(f.messages.last().lines.contains(QStringLiteral("Справочники будут пустыми.")));
                QCOMPARE(f.messages.last().lines.last(), kPress);
                if (variant == QLatin1String("missing")) // where the town goes, and a demo town
                    QCOMPARE(f.messages.last().lines.mid(1, 4),
                             (QStringList{QStringLiteral("Положите справочник города kadu.mdb (или готовый kadu.db) в эту папку:"),
                                          f.folder(), QStringLiteral("Демонстрационный город делает команда:"),
                                          QStringLiteral("korvana-demodata ") + f.folder() + QStringLiteral("/kadu.db")}));
            }
            QVERIFY(f.app->window()->isVisible());
            QCOMPARE(f.app->source(DirectoryKind::Residents)->recordCount(), residents);
            QCOMPARE(f.count(), QStringLiteral("из %1").arg(residents));

            // Searching, changing tab and copying go on without a crash; a copy
            // that cannot be stored says so.
            f.field("Tefio")->setFocus();
            test::typeInto(f.field("Tefio"), QStringLiteral("пе"));
            f.control<QTabBar>("TabStrip1")->setCurrentIndex(1);
            QCOMPARE(f.app->source(DirectoryKind::Enterprises)->recordCount(), 0);
            f.control<QTabBar>("TabStrip1")->setCurrentIndex(0);
            const qsizetype before = f.messages.count();
            const qsizetype notesBefore = residents ? notes(dbPath) : -1;
            QTest::mouseDClick(f.control<QTableView>("DBGrid1")->viewport(), Qt::LeftButton,
                               Qt::NoModifier, QPoint(40, 10));
            if (residents) {
                // The copy runs once the double-click has made the row current.
                QTRY_COMPARE(f.messages.count(), before + (readOnly ? 2 : 1));
                QCOMPARE(notes(dbPath), notesBefore + (readOnly ? 0 : 1));
                if (readOnly)
                    QCOMPARE(f.messages.last().lines.first(), QStringLiteral("Запись не добавлена в МОЙ справочник."));
            }
            f.app->window()->close();
            ordinary.reset(); // before the folder is removed
        }
        sqlite3_close(holder); // none but for "locked"; closing rolls the lock back
    }

    // The user closes the window while the copy question is open: the widths
    // are written as at every close, the question counts as No, nothing is
    // added, and the closed window survives the handlers that follow.
    void windowClosedDuringCopyQuestion()
    {
        AppFixture f;
        const QString widths = f.db.dir.filePath(QStringLiteral("WGridCol.txt"));
        const qsizetype before = notes(f.db.path());
        bool asked = false;
        const MessageResponder catcher = setMessageResponder([&](const Message &m) {
            asked = m.buttons == MessageButtons::YesNo;
            f.app->window()->close();
            return MessageAnswer::No;
        });
        QTest::mouseDClick(f.control<QTableView>("DBGrid1")->viewport(), Qt::LeftButton,
                           Qt::NoModifier, QPoint(40, 10));
        QTRY_VERIFY(asked);
        setMessageResponder(catcher);
        QVERIFY(!f.app->window()->isVisible());
        QCOMPARE(notes(f.db.path()), before);
        QCOMPARE(readBytes(widths).count('\n'), 24);
        QTest::qWait(50);
    }

    // The width file and the placement that cannot be written at the close
    // (each name taken by a folder): one warning names both; the window
    // still closes.
    void closeThatCannotSave()
    {
        AppFixture f;
        const QString widths = f.db.dir.filePath(QStringLiteral("WGridCol.txt"));
        QVERIFY(QDir().mkpath(widths));
        QVERIFY(QFile::remove(f.settings->fileName()) || !QFile::exists(f.settings->fileName()));
        QVERIFY(QDir().mkpath(f.settings->fileName()));
        f.app->window()->close();
        QVERIFY(!f.app->window()->isVisible());
        QCOMPARE(f.messages.count(), 1);
        QStringList lines = f.messages.last().lines;
        QCOMPARE(lines.size(), 5);
        lines.removeAt(1); // the system's reason
        QCOMPARE(lines, (QStringList{QStringLiteral("Ширины столбцов не сохранены в файл WGridCol.txt:"),
                                     QStringLiteral("Положение окна не сохранено в файл:"), f.settings->fileName(),
                                     QStringLiteral("Нажмите <Enter> или <OK>")}));
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
