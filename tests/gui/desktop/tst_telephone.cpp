// The dial button on a port that stands for the desktop's telephone, on a
// real desktop: the tel: link goes through Qt and xdg-open to the program
// a test XDG environment names for tel: links, or a message says there is none.
#include "appfixture.h"
#include "boxanswerer.h"
#include "desktop.h"
#include "testfiles.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;
using korvana::test::AppFixture;
using korvana::test::BoxAnswerer;
using korvana::test::Desktop;

class TestTelephone : public QObject {
    Q_OBJECT
    Desktop &desktop;
    std::unique_ptr<QTemporaryDir> xdg;
    std::unique_ptr<AppFixture> f;
    std::unique_ptr<BoxAnswerer> boxes;

    QString called() const { return xdg->filePath(QStringLiteral("called")); }
    QComboBox *commy() const { return f->control<QComboBox>(QStringLiteral("Commy")); }
    QString status() const { return f->control<QLabel>(QStringLiteral("Status"))->text(); }

    void clickDial()
    {
        QWidget *button = f->control<QAbstractButton>(QStringLiteral("Command2"));
        desktop.click(button->mapToGlobal(button->rect().center()));
    }

    // A telephone program that writes down the link it was given, made the
    // desktop's choice for tel: links with xdg-mime as a user would.
    void installTelephone()
    {
        const QString phone = xdg->filePath(QStringLiteral("phone"));
        QVERIFY(test::writeBytes(phone, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + called().toUtf8() + "'\n"));
        QVERIFY(QFile::setPermissions(phone, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir().mkpath(xdg->filePath(QStringLiteral("data/applications"))));
        QVERIFY(test::writeBytes(xdg->filePath(QStringLiteral("data/applications/test-phone.desktop")),
                                 "[Desktop Entry]\nType=Application\nName=Test phone\nExec=" + phone.toUtf8()
                                     + " %u\nMimeType=x-scheme-handler/tel;\nNoDisplay=true\n"));
        QCOMPARE(QProcess::execute(QStringLiteral("xdg-mime"), {QStringLiteral("default"), QStringLiteral("test-phone.desktop"),
                                                               QStringLiteral("x-scheme-handler/tel")}),
                 0);
    }

public:
    explicit TestTelephone(Desktop &desktop) : desktop(desktop) {}

private Q_SLOTS:
    void init()
    {
        // A desktop of its own: nothing of the machine's or the user's choices.
        xdg = std::make_unique<QTemporaryDir>();
        for (const char *dir : {"data", "config", "system", "etc"})
            QVERIFY(QDir(xdg->path()).mkpath(QString::fromLatin1(dir)));
        qputenv("XDG_DATA_HOME", xdg->filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", xdg->filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_DIRS", xdg->filePath(QStringLiteral("system")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", xdg->filePath(QStringLiteral("etc")).toUtf8());
        for (const char *name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                 "GNOME_DESKTOP_SESSION_ID", "BROWSER", "DEFAULT_BROWSER"})
            qunsetenv(name);

        // Second exchange, Com2 is the desktop's telephone.
        f = std::make_unique<AppFixture>(
            [](test::TestDb &db) {
                test::withFile(QStringLiteral("kadumy.txt"), "1\r\n2\r\n")(db);
                test::withFile(QStringLiteral("settings.ini"), "[Ports]\nCom2=tel:\n[Dial]\nPrefix=+38044\n")(db);
            },
            AppFixture::Screen::Desktop);
        boxes = std::make_unique<BoxAnswerer>(desktop);
        f->field("Tent")->setText(QStringLiteral("93020"));
        QCOMPARE(f->commy(), QStringLiteral("93020 Тест_100%"));
    }

    void cleanup()
    {
        boxes.reset();
        f.reset();
        xdg.reset();
    }

    // Without a program for tel: links a message says so and the entry is
    // not remembered; with one, the link is handed to it.
    void handedToTheTelephone()
    {
        const int items = commy()->count();
        clickDial();
        QTRY_COMPARE_WITH_TIMEOUT(boxes->count(), 1, 10000);
        QCOMPARE(boxes->last().text,
                 QStringLiteral("Нет программы для звонков по ссылкам tel:, номер никуда не передан.\r"
                                "Назначьте её в настройках рабочего стола или командой\r"
                                "xdg-mime default ПРОГРАММА.desktop x-scheme-handler/tel (см. README)."));
        QCOMPARE(commy()->count(), items);

        installTelephone();
        clickDial();
        QTRY_COMPARE_WITH_TIMEOUT(test::readBytes(called()), QByteArray("tel:+3804493020\n"), 15000);
        QCOMPARE(status(), QStringLiteral("Передано: tel:+3804493020"));
        QCOMPARE(commy()->itemText(items), QStringLiteral("93020 Тест_100%"));
        QCOMPARE(boxes->count(), 1);
    }
};

int main(int argc, char **argv)
{
    return korvana::test::runDesktopTests<TestTelephone>(argc, argv);
}

#include "tst_telephone.moc"
