// The «Мой» grid in the real window: its record selector's marks, and a
// close whose save the file refuses.
#include "accessfixtures.h"
#include "appfixture.h"
#include "core/personal/personalmodel.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTabBar>
#include <QTableView>
#include <QTest>

using namespace korvana;
using korvana::test::AppFixture;

namespace {

// A row's section of the record selector, as drawn.
QImage section(QTableView *grid, int row)
{
    QHeaderView *selector = grid->verticalHeader();
    const QImage all = selector->viewport()->grab().toImage();
    return all.copy(0, selector->sectionViewportPosition(row), all.width(), selector->sectionSize(row));
}

bool hasInk(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 100)
                return true;
    return false;
}

} // namespace

class TestPersonalWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The line for a new entry shows "*", a row with unsaved changes "✎"
    // in place of the pointer, which comes back when they are abandoned.
    void selectorMarksTheNewLineAndAnUnsavedRow()
    {
        AppFixture f;
        f.control<QTabBar>("TabStrip1")->setCurrentIndex(2);
        auto *grid = f.control<QTableView>("DBGrid3");
        PersonalModel *model = f.app->personalModel();
        QCOMPARE(model->rowCount(), 2); // one entry and the new line
        grid->setCurrentIndex(model->index(0, 1));
        const QImage pointer = section(grid, 0);
        QVERIFY(hasInk(pointer));
        QVERIFY(hasInk(section(grid, 1)));

        model->setData(model->index(0, 1), QStringLiteral("Новый"));
        const QImage pencil = section(grid, 0);
        QVERIFY(hasInk(pencil));
        QVERIFY(pencil != pointer);
        model->revertPending();
        QCOMPARE(section(grid, 0), pointer);

        grid->setCurrentIndex(model->index(1, 0)); // on the new line: the pointer
        QCOMPARE(section(grid, 1), pointer);
    }

    // A close whose «Мой» entry the file refuses leaves the window open, the
    // entry as typed (the open cell's text too) and the reason shown. Then
    // Escape abandons the entry, or the file takes it, as one entry with the
    // cell still open, and the next close goes through.
    void refusedSaveKeepsTheWindowOpen_data()
    {
        QTest::addColumn<bool>("abandon");
        QTest::newRow("abandoned") << true;
        QTest::newRow("stored later") << false;
    }
    void refusedSaveKeepsTheWindowOpen()
    {
        QFETCH(bool, abandon);
        AppFixture f;
        QVERIFY(f.app->store()->exec(QStringLiteral(
            "CREATE TRIGGER refuse BEFORE INSERT ON Note BEGIN SELECT RAISE(ABORT, 'refused'); END")));
        f.control<QTabBar>("TabStrip1")->setCurrentIndex(2);
        auto *grid = f.control<QTableView>("DBGrid3");
        PersonalModel *model = f.app->personalModel();
        const QModelIndex newRow = model->index(model->rowCount() - 1, 0);
        grid->setCurrentIndex(newRow);
        grid->edit(newRow);
        auto *editor = qobject_cast<QLineEdit *>(grid->indexWidget(newRow));
        QVERIFY(editor);
        test::typeInto(editor, QStringLiteral("12345"));
        QVERIFY(!f.app->window()->close());
        QCOMPARE(f.messages.count(), 1);
        QCOMPARE(f.messages.last().lines.first(), QStringLiteral("Изменение МОЕГО справочника не сохранено."));
        QVERIFY(f.messages.last().lines.at(1).contains(QLatin1String("refused")));
        QCOMPARE(model->data(newRow).toString(), QStringLiteral("12345"));

        if (abandon)
            QTest::keyClick(grid, Qt::Key_Escape);
        else
            QVERIFY(f.app->store()->exec(QStringLiteral("DROP TRIGGER refuse")));
        QVERIFY(f.app->window()->close());
        QCOMPARE(f.messages.count(), 1);
        const QStringList rows = test::personalRows(f.db.path());
        QCOMPARE(rows.size(), abandon ? 1 : 2);
        QVERIFY(rows.last().contains(abandon ? QStringLiteral("'03'") : QStringLiteral("'12345'")));
    }
};

QTEST_MAIN(TestPersonalWindow)
#include "tst_personalwindow.moc"
