#include "appfixture.h"

#include "core/search/recordsource.h"
#include "testfiles.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QApplication>
#include <QTest>

#include <unistd.h>

namespace korvana::test {

void typeInto(QWidget *widget, const QString &text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

AsOrdinaryUser::AsOrdinaryUser() { switched = geteuid() == 0 && seteuid(65534) == 0; }

AsOrdinaryUser::~AsOrdinaryUser()
{
    if (switched && seteuid(0) != 0)
        qFatal("cannot return to root");
}

std::function<void(TestDb &)> withFile(const QString &name, const QByteArray &bytes)
{
    return [=](TestDb &db) { QVERIFY(writeBytes(db.dir.filePath(name), bytes)); };
}

AppFixture::AppFixture(const std::function<void(TestDb &)> &prepare, Screen screen)
    : screen(screen)
{
    if (screen == Screen::Desktop)
        messages.detach();
    addSampleTown(db);
    if (prepare)
        prepare(db);
    db.store.reset();
    start();
}

AppFixture::~AppFixture()
{
    if (app && app->window())
        app->window()->close();
}

void AppFixture::start()
{
    settings = std::make_unique<QSettings>(db.dir.filePath(QStringLiteral("settings.ini")),
                                           QSettings::IniFormat);
    app = std::make_unique<AppController>(folder(), settings.get(), 96);
    app->start();
    // Offscreen nothing activates a window; on a desktop the window manager does.
    if (screen == Screen::Offscreen)
        QApplication::setActiveWindow(app->window());
    if (!QTest::qWaitForWindowActive(app->window()))
        qWarning("window did not become active");
}

void AppFixture::restart()
{
    app->window()->close();
    app.reset();
    settings.reset();
    start();
}

QLineEdit *AppFixture::field(const char *name) const
{
    return control<QLineEdit>(QString::fromLatin1(name));
}

QString AppFixture::commy() const { return control<QComboBox>(QStringLiteral("Commy"))->currentText(); }

QString AppFixture::count() const { return control<QLabel>(QStringLiteral("Label7"))->text(); }

QString AppFixture::caption(int tab) const { return app->source(kindForTab(tab))->caption(); }

QStringList AppFixture::column(int tab, int column) const
{
    QStringList out;
    RecordSource *rs = app->source(kindForTab(tab));
    for (int r = 0; r < rs->recordCount(); ++r)
        out << rs->value(r, column).toString();
    return out;
}

} // namespace korvana::test
