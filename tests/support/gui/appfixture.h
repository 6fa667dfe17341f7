#pragma once

#include "gui/app/appcontroller.h"
#include "messagecatcher.h"
#include "testdb.h"

#include <QSettings>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;

namespace korvana::test {

// Types text key by key, as a keyboard would (any script, unlike keyClicks).
void typeInto(QWidget *widget, const QString &text);

// Runs the rest of a scope with file permissions checked (root skips them).
struct AsOrdinaryUser {
    bool switched = false;
    AsOrdinaryUser();
    ~AsOrdinaryUser();
};

// A `prepare` for AppFixture that puts one side file into the folder.
std::function<void(TestDb &)> withFile(const QString &name, const QByteArray &bytes);

// The real window on a small directory file in a temporary folder, with its
// own settings file. Offscreen, messages are answered by a catcher; on a
// real desktop they are real boxes and the window manager activates the
// window.
struct AppFixture {
    enum class Screen { Offscreen, Desktop };

    TestDb db;
    MessageCatcher messages;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<AppController> app;
    Screen screen = Screen::Offscreen;

    // Fills the folder (sample town, side files written by `prepare`) and
    // starts the program on it at 96 logical dots per inch.
    explicit AppFixture(const std::function<void(TestDb &)> &prepare = {},
                        Screen screen = Screen::Offscreen);
    ~AppFixture();

    QString folder() const { return db.dir.path(); }
    void start();
    void restart(); // closes the window as a user would and starts again

    template<typename T>
    T *control(const QString &name) const;
    QLineEdit *field(const char *name) const;
    QString commy() const;
    QString count() const;
    QString caption(int tab) const;
    // The values of one column of a tab's result, top to bottom.
    QStringList column(int tab, int column) const;
};

} // namespace korvana::test

#include "gui/window/mainwindow.h"

template<typename T>
T *korvana::test::AppFixture::control(const QString &name) const
{
    return app->window()->findChild<T *>(name);
}
