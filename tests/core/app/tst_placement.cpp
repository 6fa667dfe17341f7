#include "core/app/placement.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;

namespace korvana {
char *toString(const Placement &p)
{
    return QTest::toString(QStringLiteral("(%1, %2, %3, %4)").arg(p.left).arg(p.top).arg(p.width).arg(p.height));
}
} // namespace korvana

class TestPlacement : public QObject {
    Q_OBJECT

private slots:
    void storedAsPlainNumbersAndReadBack()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("korvana.ini");
        // Absent keys give the defaults, not what the window had.
        QCOMPARE(readPlacement(QSettings(file, QSettings::IniFormat), Placement{1, 2, 3, 4}),
                 (Placement{1000, 1000, 9970, 6990}));
        const Placement stored{-15, 30.5f, 12000, 7000.25f};
        {
            QSettings settings(file, QSettings::IniFormat);
            writePlacement(settings, stored);
        }
        QSettings settings(file, QSettings::IniFormat);
        QCOMPARE((QStringList{settings.value("Settings/MainLeft").toString(), settings.value("Settings/MainTop").toString(),
                              settings.value("Settings/MainWidth").toString()}),
                 (QStringList{"-15", "30.5", "12000"}));
        QCOMPARE(readPlacement(settings, Placement{}), stored);
        // A text that is no number keeps the window's value; blanks around a number do not.
        settings.setValue("Settings/MainLeft", "abc");
        settings.setValue("Settings/MainWidth", " 11000 ");
        settings.setValue("Settings/MainHeight", "");
        QCOMPARE(readPlacement(settings, Placement{5, 6, 7, 8}), (Placement{5, 30.5f, 11000, 8}));
        // Never "-0" nor an exponent, nor decimals not asked for.
        QCOMPARE((QStringList{numberText(-0.0f), numberText(1e8f), numberText(0.1f)}), (QStringList{"0", "100000000", "0.1"}));
    }

    void placementOffEveryScreenMovesHome()
    {
        // Two screens at 96 dpi (15 twips a pixel): 0..1919 and 1920..3199 wide.
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        const Placement second{30000, 1000, 9970, 6990}, straddling{-9000, 500, 9970, 6990};
        QCOMPARE(keepOnScreen(second, screens, 96), second);
        QCOMPARE(keepOnScreen(straddling, screens, 96), straddling);
        QCOMPARE(keepOnScreen(Placement{60000, 1000, 12000, 8000}, screens, 96), (Placement{1000, 1000, 12000, 8000}));
        QCOMPARE(keepOnScreen(Placement{1000, -20000, 9970, 6990}, screens, 96), Placement{});
        // Home is measured from the primary screen, listed first.
        const Placement lost{-90000, 0, 9970, 6990};
        QCOMPARE(keepOnScreen(lost, {QRect(1920, 0, 1920, 1080), QRect(0, 0, 1920, 1080)}, 96),
                 (Placement{1920 * 15 + 1000, 1000, 9970, 6990}));
        QCOMPARE(keepOnScreen(lost, {}, 96), lost);
    }
};

QTEST_GUILESS_MAIN(TestPlacement)
#include "tst_placement.moc"
