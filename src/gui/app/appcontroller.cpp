#include "gui/app/appcontroller.h"

#include "core/app/placement.h"
#include "core/personal/personalcopy.h"
#include "core/personal/personalmodel.h"
#include "core/search/directorymodel.h"
#include "core/search/recordsource.h"
#include "core/search/searchimages.h"
#include "core/store/store.h"
#include "core/window/layoutpass.h"
#include "core/window/twips.h"
#include "gui/app/importdialog.h"
#include "gui/app/upgradedialog.h"
#include "gui/dialer/dialerpanel.h"
#include "gui/search/gridbinding.h"
#include "gui/search/searchcontroller.h"
#include "gui/window/controls.h"
#include "gui/window/datacontrol.h"
#include "gui/window/mainwindow.h"
#include "gui/window/messages.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QTabBar>
#include <QTimer>
#include <QWindow>

namespace korvana {

namespace {

const QString kPressEnter = QStringLiteral("Нажмите <Enter> или <OK>");
const QString kDatabaseName = QStringLiteral("kadu.db");
const QString kAccessName = QStringLiteral("kadu.mdb");

// The serial control's port before the my-numbers file is read (Com1).
constexpr int kDefaultPort = 1;

const DirectoryKind kKinds[3] = {DirectoryKind::Residents, DirectoryKind::Enterprises,
                                 DirectoryKind::Personal};

} // namespace

AppController::AppController(const QString &folder, QSettings *settings, qreal logicalDpi,
                             QObject *parent)
    : QObject(parent), m_folder(folder), m_settings(settings)
{
    m_window = std::make_unique<MainWindow>(logicalDpi);
    for (int i = 0; i < 3; ++i)
        m_sources[i] = new RecordSource(kKinds[i], this);
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

void AppController::start()
{
    openStore();

    MainWindow *w = m_window.get();
    auto *images = new SearchImages(m_store.get(), this);
    for (int i = 0; i < 3; ++i) {
        m_sources[i]->setStore(m_store.get());
        m_sources[i]->setImages(images);
        w->dataControl(kKinds[i])->setRecordSource(m_sources[i]);
        DirectoryGrid *grid = w->grid(kKinds[i]);
        DirectoryModel *model;
        if (kKinds[i] == DirectoryKind::Personal) {
            m_personalModel = new PersonalModel(m_sources[i], this);
            connect(m_personalModel, &PersonalModel::writeFailed, this, [this](const QString &why) {
                showMessage(m_window.get(),
                            {QStringLiteral("Изменение МОЕГО справочника не сохранено."), why,
                             kPressEnter},
                            MessageIcon::Critical, MessageButtons::Ok);
            });
            model = m_personalModel;
            grid->installEventFilter(this);
        } else {
            model = new DirectoryModel(m_sources[i], this);
            grid->viewport()->installEventFilter(this);
        }
        new GridBinding(grid, m_sources[i], model, this);
        connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this,
                [this, i](int column, int, int newSize) {
                    columnResized(int(kKinds[i]), column, newSize);
                });
    }
    m_search = new SearchController(w, m_sources, this);
    connect(w, &MainWindow::ticked, m_search, &SearchController::tick);
    m_dialer = new DialerPanel(w, this);
    m_dialer->attempt().setSettings(m_settings);
    w->installEventFilter(this);

    loadPropertySettings();
    m_search->setSortField(1);
    restorePlacement();

    // Each record source starts on its whole table; the search of the
    // residents directory follows when the focus lands in the number field.
    for (RecordSource *rs : m_sources)
        rs->refresh();
    w->show();
    applyOuterPlacement();
    w->activateWindow();
    w->control<QLineEdit>(QStringLiteral("Tent"))->setFocus(Qt::ActiveWindowFocusReason);
    // Built in the background once the first result is on screen.
    QTimer::singleShot(0, images, &SearchImages::start);
}

void AppController::openStore()
{
    const QDir dir(m_folder);
    const QString dbPath = dir.filePath(kDatabaseName);
    const QString mdbPath = dir.filePath(kAccessName);
    const QString folderLine = QStringLiteral("Папка: ") + QDir::toNativeSeparators(m_folder);
    if (!QFileInfo::exists(dbPath) && QFileInfo(mdbPath).isFile()) {
        QString error;
        QStringList warnings;
        if (!importAccessFileWithProgress(nullptr, mdbPath, dbPath, &error, &warnings))
            showMessage(nullptr, {error, kPressEnter}, MessageIcon::Critical, MessageButtons::Ok);
        else if (!warnings.isEmpty())
            showMessage(nullptr, warnings + QStringList{kPressEnter}, MessageIcon::None,
                        MessageButtons::Ok);
    }

    Store::OpenStatus status = Store::OpenStatus::Ok;
    QString error;
    m_store = openStoreWithProgress(nullptr, dbPath, &status, &error);
    if (m_store)
        return;
    QStringList lines;
    switch (status) {
    case Store::OpenStatus::Missing:
        lines = {QStringLiteral("Не найден файл справочника kadu.db."),
                 QStringLiteral("Положите kadu.db (или kadu.mdb) в эту папку:"),
                 QDir::toNativeSeparators(m_folder)};
        break;
    case Store::OpenStatus::NotADatabase:
        lines = {QStringLiteral("Файл kadu.db не является базой справочника."), folderLine};
        break;
    default:
        lines = {QStringLiteral("Не удалось открыть файл справочника kadu.db:"), error, folderLine};
        break;
    }
    lines << QStringLiteral("Справочники будут пустыми.") << kPressEnter;
    showMessage(nullptr, lines, MessageIcon::Critical, MessageButtons::Ok);
}

void AppController::loadPropertySettings()
{
    MainWindow *w = m_window.get();
    auto *port = w->control<QComboBox>(QStringLiteral("cboPort"));
    for (int n = 1; n <= 16; ++n)
        port->addItem(QStringLiteral("Com%1").arg(n));
    port->setCurrentIndex(kDefaultPort - 1);
    auto *exchange = w->control<QComboBox>(QStringLiteral("ATC"));
    exchange->addItem(QStringLiteral("DaziVIRe"));
    exchange->addItem(QStringLiteral("УкрТелеком"));
    exchange->setCurrentIndex(0);
    auto *commy = w->control<QComboBox>(QStringLiteral("Commy"));
    commy->addItems(builtInNumbers());

    // A faulty line of the file costs only its own item: the lists, the
    // tab and the widths below are set whatever the file holds.
    const MyNumbers mine = readMyNumbers(QDir(m_folder).filePath(kMyNumbersFileName));
    if (mine.present) {
        exchange->setCurrentIndex(mine.exchangeIndex);
        if (mine.port)
            port->setCurrentIndex(*mine.port - 1);
        if (!mine.modem) {
            w->control<QWidget>(QStringLiteral("Frame2"))->hide();
            w->control<QWidget>(QStringLiteral("Frame3"))->hide();
        }
        commy->addItems(mine.ownNumbers);
    }
    commy->setCurrentIndex(0);
    m_search->setCurrentTab(1);
    m_widths = loadWidthTable(QDir(m_folder).filePath(kWidthFileName));
}

void AppController::restorePlacement()
{
    MainWindow *w = m_window.get();
    const double dpi = w->logicalDpi();
    Placement p = readPlacement(*m_settings, Placement{});
    QList<QRect> screens;
    if (QScreen *primary = QGuiApplication::primaryScreen())
        screens << primary->availableGeometry();
    for (QScreen *s : QGuiApplication::screens())
        if (s != QGuiApplication::primaryScreen())
            screens << s->availableGeometry();
    p = keepOnScreen(p, screens, dpi);

    // The stored size is the outer one, frame and title bar included.
    m_outerPlacement = QRect(twipsToPixels(p.left, dpi), twipsToPixels(p.top, dpi),
                             twipsToPixels(p.width, dpi), twipsToPixels(p.height, dpi));
    applyOuterPlacement();
}

void AppController::applyOuterPlacement()
{
    // The frame is known only once the window is shown (and is 0 without a
    // window manager), so this runs again after the first show.
    MainWindow *w = m_window.get();
    const QSize frame = w->frameGeometry().size() - w->size();
    w->resize(m_outerPlacement.size() - frame);
    w->move(m_outerPlacement.topLeft());
}

float AppController::outerWidthTwips() const
{
    return float(pixelsToTwips(m_window->frameGeometry().width(), m_window->logicalDpi()));
}

float AppController::outerHeightTwips() const
{
    return float(pixelsToTwips(m_window->frameGeometry().height(), m_window->logicalDpi()));
}

void AppController::layout()
{
    MainWindow *w = m_window.get();
    QWidget *picture = w->control<QWidget>(QStringLiteral("Picture2"));
    const QRectF pictureTwips = w->twipsGeometry(picture);
    LayoutInput in;
    in.minimised = w->isMinimized();
    in.width = outerWidthTwips();
    in.height = outerHeightTwips();
    in.dialPanelVisible = !w->control<QWidget>(QStringLiteral("Frame2"))->isHidden();
    in.pictureWidth = float(pictureTwips.width());
    in.pictureLeft = float(pictureTwips.left());
    in.pictureVisible = !picture->isHidden();
    const std::optional<LayoutPlan> plan = layoutPass(in, m_widths);
    if (!plan)
        return;

    auto size = [w](QWidget *control, float width, std::optional<float> height) {
        QRectF r = w->twipsGeometry(control);
        r.setWidth(width);
        if (height)
            r.setHeight(*height);
        w->setTwipsGeometry(control, r);
    };
    size(w->tabStrip(), plan->tabStripWidth, plan->tabStripHeight);
    for (DirectoryKind kind : kKinds)
        size(w->gridFrame(kind), plan->frameWidth, plan->frameHeight);
    for (DirectoryKind kind : kKinds)
        size(w->grid(kind), plan->gridWidth, plan->gridHeight);
    QWidget *band = w->control<QWidget>(QStringLiteral("Image1(0)"));
    size(band, plan->bandWidth, std::nullopt);
    if (plan->pictureLeft) {
        QRectF r = pictureTwips;
        r.moveLeft(*plan->pictureLeft);
        w->setTwipsGeometry(picture, r);
    }
    if (plan->pictureVisible)
        picture->setVisible(*plan->pictureVisible);

    m_applyingWidths = true;
    for (const ColumnWidth &c : plan->columns)
        w->grid(DirectoryKind(c.grid))->setColumnWidth(c.column, twipsToPixels(c.width, w->logicalDpi()));
    m_applyingWidths = false;
    for (int g = 1; g <= 3; ++g)
        w->setGridCellPointSize(DirectoryKind(g), plan->cellPointSize[g - 1]);
    for (int g = 1; g <= 3; ++g)
        w->grid(DirectoryKind(g))->viewport()->update();
}

void AppController::columnResized(int grid, int column, int newPixels)
{
    if (m_applyingWidths)
        return;
    storeColumnWidth(m_widths, grid, column,
                     float(pixelsToTwips(newPixels, m_window->logicalDpi())), outerWidthTwips(),
                     m_window->isMinimized());
}

void AppController::copyToPersonal(int tab)
{
    const auto result = PersonalCopy::copy(*m_sources[tab - 1], *m_sources[2], [this](const QString &prompt) {
        return showMessage(m_window.get(), {prompt}, MessageIcon::None, MessageButtons::YesNo)
            == MessageAnswer::Yes;
    });
    if (result == PersonalCopy::Result::Refused)
        showMessage(m_window.get(),
                    {QStringLiteral("Запись не добавлена в МОЙ справочник."),
                     m_store ? m_store->lastError() : QStringLiteral("Нет файла справочника."),
                     kPressEnter},
                    MessageIcon::Critical, MessageButtons::Ok);
}

void AppController::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    MainWindow *w = m_window.get();
    // A dial attempt in progress hangs up first; typed personal edits are kept.
    if (m_dialer->attempt().isRunning())
        m_dialer->attempt().abort();
    m_personalModel->submitPending();

    QString error;
    if (!writeWidthFile(m_widths, QDir(m_folder).filePath(kWidthFileName), &error))
        qWarning("WGridCol.txt not written: %s", qPrintable(error));
    if (!w->isMinimized()) {
        const QRect outer = w->frameGeometry();
        const double dpi = w->logicalDpi();
        writePlacement(*m_settings,
                       Placement{float(pixelsToTwips(outer.x(), dpi)), float(pixelsToTwips(outer.y(), dpi)),
                                 float(pixelsToTwips(outer.width(), dpi)),
                                 float(pixelsToTwips(outer.height(), dpi))});
        m_settings->sync();
    }
}

bool AppController::eventFilter(QObject *watched, QEvent *event)
{
    MainWindow *w = m_window.get();
    if (watched == w) {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::WindowStateChange:
        case QEvent::Show:
            layout();
            break;
        case QEvent::Close:
            shutDown();
            break;
        default:
            break;
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (int tab = 1; tab <= 2; ++tab) {
            if (watched == w->grid(kKinds[tab - 1])->viewport()) {
                // Let the grid make the row under the pointer current first.
                QTimer::singleShot(0, this, [this, tab] { copyToPersonal(tab); });
                return false;
            }
        }
    }
    if (event->type() == QEvent::KeyPress && watched == w->grid(DirectoryKind::Personal)) {
        auto *key = static_cast<QKeyEvent *>(event);
        DirectoryGrid *grid = w->grid(DirectoryKind::Personal);
        if (key->key() == Qt::Key_Escape) {
            m_personalModel->revertPending();
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            const int row = grid->currentIndex().row();
            if (row >= 0 && !m_personalModel->isNewRow(row)
                && showMessage(w, {QStringLiteral("Удалить запись из МОЕГО справочника?")},
                               MessageIcon::None, MessageButtons::YesNo)
                    == MessageAnswer::Yes)
                m_personalModel->removeEntry(row);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvana
