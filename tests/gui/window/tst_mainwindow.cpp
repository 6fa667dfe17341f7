// The real message box, as the program shows it on the screen.
#include "gui/window/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace korvana;

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aRealMessageBoxIsModalTitledInRussianAndDefaultsToYes()
    {
        QString title, text, yes, no;
        bool yesIsDefault = false;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
            yes = box->button(QMessageBox::Yes)->text();
            no = box->button(QMessageBox::No)->text();
            box->button(QMessageBox::No)->click();
        });
        QCOMPARE(showMessage(nullptr, {QStringLiteral("Первая"), QStringLiteral("Вторая")}, MessageIcon::None,
                             MessageButtons::YesNo),
                 MessageAnswer::No);
        QCOMPARE(title, QStringLiteral("Korvana"));
        QCOMPARE(text, QStringLiteral("Первая\nВторая")); // two lines on the screen
        QCOMPARE(icon, QMessageBox::NoIcon);
        QVERIFY(yesIsDefault);
        QCOMPARE(yes + u'/' + no, QStringLiteral("Да/Нет"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
