#include "app/placement.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;

Q_DECLARE_METATYPE(korvana::Placement)

namespace korvana {
char *toString(const Placement &p)
{
    return QTest::toString(QStringLiteral("(%1, %2, %3, %4)").arg(p.left).arg(p.top).arg(p.width).arg(p.height));
}
} // namespace korvana

class TestPlacement : public QObject {
    Q_OBJECT

private slots:
    void absentKeysGiveDefaults()
    {
        QTemporaryDir dir;
        const QSettings settings(dir.filePath("korvana.ini"), QSettings::IniFormat);
        const Placement current{1, 2, 3, 4};
        QCOMPARE(readPlacement(settings, current), Placement{});
        QCOMPARE(Placement{}, (Placement{1000, 1000, 9970, 6990}));
    }

    void roundTripAsText()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("korvana.ini");
        const Placement stored{-15, 30.5f, 12000, 7000.25f};
        {
            QSettings settings(file, QSettings::IniFormat);
            writePlacement(settings, stored);
        }
        const QSettings settings(file, QSettings::IniFormat);
        QCOMPARE(settings.value("Settings/MainLeft").toString(), "-15");
        QCOMPARE(settings.value("Settings/MainTop").toString(), "30.5");
        QCOMPARE(settings.value("Settings/MainWidth").toString(), "12000");
        QCOMPARE(readPlacement(settings, Placement{}), stored);
    }

    void nonNumericTextKeepsCurrentValue()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("korvana.ini"), QSettings::IniFormat);
        settings.setValue("Settings/MainLeft", "abc");
        settings.setValue("Settings/MainWidth", " 11000 ");
        settings.setValue("Settings/MainHeight", "");
        const Placement p = readPlacement(settings, Placement{5, 6, 7, 8});
        QCOMPARE(p, (Placement{5, 1000, 11000, 8}));
    }

    void numberTextForms()
    {
        QCOMPARE(numberText(9970), "9970");
        QCOMPARE(numberText(-0.0f), "0");
        QCOMPARE(numberText(1e8f), "100000000");
        QCOMPARE(numberText(0.1f), "0.1");
        QCOMPARE(numberText(1000.75f), "1000.75");
    }

    void placementOffEveryScreenMovesHome_data()
    {
        QTest::addColumn<Placement>("placement");
        QTest::addColumn<Placement>("expected");
        // Two screens at 96 dpi (15 twips a pixel): 0..1919 and 1920..3199 wide.
        QTest::newRow("on the second screen") << Placement{30000, 1000, 9970, 6990}
                                              << Placement{30000, 1000, 9970, 6990};
        QTest::newRow("straddling the left edge") << Placement{-9000, 500, 9970, 6990}
                                                  << Placement{-9000, 500, 9970, 6990};
        QTest::newRow("right of both") << Placement{60000, 1000, 12000, 8000}
                                       << Placement{1000, 1000, 12000, 8000};
        QTest::newRow("above both") << Placement{1000, -20000, 9970, 6990}
                                    << Placement{1000, 1000, 9970, 6990};
    }
    void placementOffEveryScreenMovesHome()
    {
        QFETCH(Placement, placement);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QTEST(keepOnScreen(placement, screens, 96), "expected");
    }

    void homeIsOnThePrimaryScreen()
    {
        const QList<QRect> screens{QRect(1920, 0, 1920, 1080), QRect(0, 0, 1920, 1080)};
        const Placement lost{-90000, 0, 9970, 6990};
        QCOMPARE(keepOnScreen(lost, screens, 96), (Placement{1920 * 15 + 1000, 1000, 9970, 6990}));
        QCOMPARE(keepOnScreen(lost, {}, 96), lost);
    }
};

QTEST_GUILESS_MAIN(TestPlacement)
#include "tst_placement.moc"
