#include "gui/app/appcontroller.h"

#include "core/app/placement.h"
#include "core/app/sidefiles.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/search/searchimages.h"
#include "core/store/store.h"
#include "core/window/columnwidths.h"
#include "core/window/layoutpass.h"
#include "core/window/twips.h"
#include "core/app/networkfolder.h"
#include "gui/app/networkwarning.h"
#include "gui/app/officepersonal.h"
#include "gui/app/officeseat.h"
#include "gui/app/opendatabase.h"
#include "gui/dialer/dialerpanel.h"
#include "gui/personal/personalgrid.h"
#include "gui/search/directories.h"
#include "gui/search/gridmenu.h"
#include "gui/search/searchcontroller.h"
#include "gui/window/mainwindow.h"
#include "gui/window/messages.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QTimer>

namespace korvana {

namespace {

// The serial control's port before the my-numbers file is read (Com1).
constexpr int kDefaultPort = 1;

} // namespace

AppController::AppController(const QString &folder, QSettings *settings, qreal logicalDpi,
                             QObject *parent)
    : QObject(parent), m_folder(folder), m_settings(settings),
      m_window(std::make_unique<MainWindow>(logicalDpi))
{
}

AppController::~AppController()
{
    // The window's models and bindings refer to the sources and the store.
    m_window.reset();
}

QStringList AppController::builtInNumbers()
{
    return {QStringLiteral("20911 Spravka"), QStringLiteral("20003 Taxi")};
}

RecordSource *AppController::source(DirectoryKind kind) const
{
    return m_directories ? (*m_directories)[kind].source : nullptr;
}

PersonalModel *AppController::personalModel() const
{
    return m_directories ? m_directories->personalModel() : nullptr;
}

void AppController::start()
{
    m_service = OfficeSeat::serviceFor(m_service, *m_settings);
    if (m_service.isEmpty()) {
        const QString dbPath = QDir(m_folder).filePath(QStringLiteral("kadu.db"));
        warnOfNetworkFolder(dbPath, filesystemTypeOf(dbPath), *m_settings);
        m_store = openDirectoryFile(m_folder);
    } else {
        m_seat = new OfficeSeat(m_service, this);
        m_store = m_seat->openCopy();
    }

    MainWindow *w = m_window.get();
    auto *images = new SearchImages(m_store.get(), this);
    m_directories = std::make_unique<Directories>(*w, m_store.get(), images, this);
    m_search = new SearchController(*w, *m_directories, this);
    connect(w, &MainWindow::ticked, m_search, &SearchController::tick);
    w->setFocusHome([this] { return m_window->searchPanel().fields[int(m_search->sortField()) - 1]; });
    m_dialer = new DialerPanel(w->dialPanel(), w, this);
    m_dialer->setSettings(m_settings);
    m_personal = new PersonalGrid(*w, *m_directories, m_store.get(), this);
    for (const DirectoryView &d : *m_directories) {
        auto *menu = new GridMenu(d, w->dialPanel().dialFrame, this);
        // After the menu has closed: a call waits in an event loop of its own.
        connect(menu, &GridMenu::dialRequested, m_dialer, &DialerPanel::dial, Qt::QueuedConnection);
        connect(menu, &GridMenu::qrCodeRequested, m_dialer, &DialerPanel::showQrCode, Qt::QueuedConnection);
    }
    connect(w, &MainWindow::columnResized, this, [this](DirectoryKind grid, int column, int pixels) {
        MainWindow *w = m_window.get();
        storeColumnWidth(m_widths, int(grid), column, float(pixelsToTwips(pixels, w->logicalDpi())),
                         w->outerPlacement().width, w->isMinimized());
    });
    w->installEventFilter(this);

    loadPropertySettings();
    m_search->setSortField(SortField::Number);
    restorePlacement();

    // Each record source starts on its whole table; the search of the
    // residents directory follows when the focus lands in the number field.
    for (DirectoryView &d : *m_directories)
        d.source->refresh();
    w->show();
    w->setOuterPlacement(m_placement);
    w->activateWindow();
    w->searchPanel().fields[0]->setFocus(Qt::ActiveWindowFocusReason);
    m_dialer->checkSettings();
    // Built in the background once the first result is on screen.
    QTimer::singleShot(0, images, &SearchImages::start);
    if (m_seat) {
        // A new edition taken while running: every directory searches it at once.
        // (The search images see the change and are built again.)
        connect(m_seat, &OfficeSeat::editionTaken, this, [this] {
            for (DirectoryView &d : *m_directories)
                d.source->refresh();
            m_search->runSearch();
        });
        m_seat->listen(m_store.get());
        // «Мой» lives on the server; the copy's Note table mirrors it.
        m_officePersonal = new OfficePersonal(*m_seat, m_store.get(), source(DirectoryKind::Personal),
                                              personalModel(), *w, personalMode(), this);
        m_officePersonal->offerLocalEntries(QDir(m_folder).filePath(QStringLiteral("kadu.db")), m_settings);
    }
}

PersonalMode AppController::personalMode() const
{
    const QString text = m_settings->value(QStringLiteral("Server/Personal")).toString();
    if (const std::optional<PersonalMode> mode = personalModeFromText(text))
        return *mode;
    // A mistyped mode must not put an operator's entries into the office's list.
    showMessage(m_window.get(),
                {QStringLiteral("В настройках [Server] Personal=%1: такого режима нет.").arg(text),
                 QStringLiteral("Справочник «Мой» будет вашим собственным (Personal=own); общий для офиса — Personal=shared."),
                 QStringLiteral("Нажмите <Enter> или <OK>")},
                MessageIcon::Critical, MessageButtons::Ok);
    return PersonalMode::Own;
}

void AppController::loadPropertySettings()
{
    const DialPanel &dial = m_window->dialPanel();
    for (int n = 1; n <= 16; ++n)
        dial.port->addItem(QStringLiteral("Com%1").arg(n));
    dial.port->setCurrentIndex(kDefaultPort - 1);
    dial.exchange->addItem(QStringLiteral("DaziVIRe"));
    dial.exchange->addItem(QStringLiteral("УкрТелеком"));
    dial.exchange->setCurrentIndex(0);
    dial.commy->addItems(builtInNumbers());

    // A faulty line of the file costs only its own item: the lists, the
    // tab and the widths below are set whatever the file holds.
    const MyNumbers mine = readMyNumbers(QDir(m_folder).filePath(kMyNumbersFileName));
    if (mine.present) {
        dial.exchange->setCurrentIndex(mine.exchangeIndex);
        if (mine.port)
            dial.port->setCurrentIndex(*mine.port - 1);
        if (!mine.modem) {
            dial.dialFrame->hide();
            dial.modemFrame->hide();
        }
        dial.commy->addItems(mine.ownNumbers);
    }
    dial.commy->setCurrentIndex(0);
    m_search->setCurrentTab(DirectoryKind::Residents);
    m_widths = loadWidthTable(QDir(m_folder).filePath(kWidthFileName));
}

void AppController::restorePlacement()
{
    QList<QRect> screens;
    if (QScreen *primary = QGuiApplication::primaryScreen())
        screens << primary->availableGeometry();
    for (QScreen *s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen())
            screens << s->availableGeometry();
    m_placement = rescuePlacement(readPlacement(*m_settings, Placement{}), screens,
                                  m_window->logicalDpi());
    m_window->setOuterPlacement(m_placement);
}

void AppController::layout()
{
    if (const std::optional<LayoutPlan> plan = layoutPass(m_window->layoutInput(), m_widths))
        m_window->applyLayout(*plan);
}

bool AppController::shutDown()
{
    if (m_shutDown)
        return true;
    // A dial attempt in progress hangs up first; typed personal edits,
    // the open cell's too, are kept. When they cannot be, the user has
    // been told why and decides with the window still open.
    if (m_dialer->attempt().isRunning())
        m_dialer->attempt().abort();
    if (!m_directories->personalModel()->submitPending())
        return false;
    m_shutDown = true;

    QString error;
    QStringList unsaved;
    if (!writeWidthFile(m_widths, QDir(m_folder).filePath(kWidthFileName), &error))
        unsaved << QStringLiteral("Ширины столбцов не сохранены в файл %1:").arg(kWidthFileName) << error;
    if (!m_window->isMinimized()) {
        writePlacement(*m_settings, m_window->outerPlacement());
        m_settings->sync();
        if (m_settings->status() != QSettings::NoError)
            unsaved << QStringLiteral("Положение окна не сохранено в файл:")
                    << QDir::toNativeSeparators(m_settings->fileName());
    }
    reportUnsaved(unsaved);
    return true;
}

void AppController::reportUnsaved(const QStringList &lines)
{
    // One message for everything the close could not keep.
    if (lines.isEmpty())
        return;
    for (const QString &line : lines)
        qWarning("%s", qPrintable(line));
    showMessage(m_window.get(), lines + QStringList{QStringLiteral("Нажмите <Enter> или <OK>")},
                MessageIcon::Critical, MessageButtons::Ok);
}

bool AppController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get()) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::WindowStateChange:
        case QEvent::Show:
            layout();
            break;
        case QEvent::Close:
            if (!shutDown()) {
                event->ignore();
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvana
