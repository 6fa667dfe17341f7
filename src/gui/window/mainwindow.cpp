#include "gui/window/mainwindow.h"

#include "core/window/titlescroll.h"
#include "core/window/twips.h"
#include "gui/window/artwork.h"
#include "gui/window/controls.h"
#include "gui/window/datacontrol.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace korvana {

namespace {

const char kTwipsProperty[] = "korvanaTwips";

// The town in the search panel's caption.
const QString kTownName = QStringLiteral("Краснозорск");

// The design typeface is narrower than the sans-serif used here; a caption
// that would not fit its label is drawn condensed rather than cut off.
void condenseToFit(QLabel *label)
{
    const int room = label->contentsRect().width() - label->margin() * 2;
    if (label->text().isEmpty() || room <= 0)
        return;
    QFont font = label->font();
    for (int stretch = 100; stretch >= 75; stretch -= 5) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(label->text()) <= room)
            break;
    }
    if (font.stretch() != 100)
        label->setFont(font);
}

QString arrayName(const char *name, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

QString gridName(DirectoryKind kind)
{
    return QStringLiteral("DBGrid%1").arg(static_cast<int>(kind));
}

// The design typeface is not on Linux; DejaVu Sans is, and any sans-serif
// will do where it is missing.
QFont designFont(qreal points, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

MainWindow::MainWindow(qreal logicalDpi, QWidget *parent)
    : QWidget(parent)
{
    if (logicalDpi > 0) {
        m_dpi = logicalDpi;
    } else if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        m_dpi = screen->logicalDotsPerInchY();
    }
    build();
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, &MainWindow::onFocusChanged);
}

MainWindow::~MainWindow()
{
    // The children give up the focus while the base class destroys them.
    disconnect(m_focusWatch);
}

void MainWindow::onFocusChanged(QWidget *old, QWidget *now)
{
    if (!now || now->window() != this)
        return; // the focus left for another window; it comes back to m_lastFocus
    if (m_returningFocus) {
        m_lastFocus = now;
        return;
    }
    QWidget *previous = std::exchange(m_lastFocus, now);
    if (old == m_search.clear && !old->isEnabled()) {
        returnFocusHome();
        return;
    }
    bool arrival = false;
    if (old && old->window() == this) {
        // Qt hands the focus on (with the reason of a Tab) when the control
        // holding it is disabled or hidden: the user moved nowhere.
        arrival = old != now && old->isEnabled() && old->isVisible();
    } else {
        // The activation came back (after a box, a dialog, another program):
        // Qt gives the focus back to where it was. Elsewhere, the user
        // clicked another control of the inactive window.
        arrival = now != previous;
    }
    if (arrival)
        Q_EMIT controlEntered(now);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Disabled in a window that is not active, the clear button hands the
    // focus on without a focus change being announced.
    if (watched == m_search.clear && event->type() == QEvent::EnabledChange
        && !m_search.clear->isEnabled() && m_lastFocus == m_search.clear && !isActiveWindow())
        returnFocusHome();
    return QWidget::eventFilter(watched, event);
}

void MainWindow::returnFocusHome()
{
    QWidget *home = m_focusHome ? m_focusHome() : nullptr;
    if (!home || !home->isEnabled() || !home->isVisible())
        return;
    m_lastFocus = home;
    if (focusWidget() == home)
        return;
    const bool returning = std::exchange(m_returningFocus, true);
    home->setFocus(Qt::OtherFocusReason);
    m_returningFocus = returning;
}

void MainWindow::setTwipsGeometry(QWidget *control, const QRectF &twips)
{
    const QRect pixels = twipsToPixels(twips, m_dpi);
    control->setGeometry(pixels);
    control->setProperty(kTwipsProperty, twips);
}

QRectF MainWindow::twipsGeometry(const QWidget *control) const
{
    const QRectF kept = control->property(kTwipsProperty).toRectF();
    if (!kept.isNull() && twipsToPixels(kept, m_dpi) == control->geometry())
        return kept;
    return pixelsToTwips(control->geometry(), m_dpi);
}

void MainWindow::build()
{
    setObjectName(QStringLiteral("frmDataEnv"));
    setFont(designFont(8.25));
    setWindowIcon(artwork::applicationIcon());
    setWindowTitle(advertisingCaption());
    const QSizeF client = designClientTwips();
    resize(twipsToPixels(client.width(), m_dpi), twipsToPixels(client.height(), m_dpi));
    setMinimumSize(twipsToPixels(kMinimumClientWidth, m_dpi),
                   twipsToPixels(kMinimumClientHeight, m_dpi));

    const auto place = [this](QWidget *w, double left, double top, double width, double height) {
        setTwipsGeometry(w, QRectF(left, top, width, height));
    };
    const auto label = [&](QWidget *parent, const QString &name, const QString &text, double l, double t,
                           double w, double h) {
        auto *lbl = new QLabel(text, parent);
        lbl->setObjectName(name);
        lbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // Opaque, as the labels of the design are: two captions on one spot
        // then show as one.
        lbl->setAutoFillBackground(true);
        place(lbl, l, t, w, h);
        condenseToFit(lbl);
        return lbl;
    };
    const auto frame = [&](const QString &name, const QString &title, double l, double t, double w, double h) {
        // Opaque, so that what lies behind a frame does not show through.
        auto *box = new Frame(title, this);
        box->setObjectName(name);
        place(box, l, t, w, h);
        return box;
    };
    const auto lineEdit = [&](QWidget *parent, const QString &name, double l, double t, double w, double h) {
        auto *edit = new QLineEdit(parent);
        edit->setObjectName(name);
        place(edit, l, t, w, h);
        return edit;
    };

    // The clear button comes first so that it heads the focus chain.
    auto *command1 = new QPushButton(this);
    m_search.clear = command1;
    command1->installEventFilter(this);
    command1->setObjectName(QStringLiteral("Command1"));
    command1->setIcon(artwork::clearIcon());
    command1->setIconSize(QSize(32, 32));
    command1->setToolTip(QStringLiteral("Очистить условие"));
    command1->setEnabled(false);
    place(command1, 240, 600, 615, 615);

    // Search panel. The fields belong to the window and lie over the frame.
    QGroupBox *frame1 = m_frame1 = frame(QStringLiteral("Frame1"),
                              QStringLiteral("Поиск в справочнике г. ") + kTownName, 0, 0, 5175, 1455);
    label(frame1, QStringLiteral("Label1"), QStringLiteral("Номер"), 1080, 600, 615, 255);
    m_directories[0].nameLabel = label(frame1, arrayName("Label2", 0), QStringLiteral("Ф И О "), 1800, 600, 615, 255);
    m_directories[1].nameLabel = label(frame1, arrayName("Label2", 1), QStringLiteral("Предприятие"), 1800, 600, 1095, 255);
    m_directories[1].nameLabel->hide();
    m_directories[2].nameLabel = label(frame1, arrayName("Label2", 2), QStringLiteral("Ф И О "), 1800, 600, 615, 255);
    label(frame1, QStringLiteral("Label3"), QStringLiteral("Улица"), 3000, 600, 615, 255);
    label(frame1, QStringLiteral("Label4"), QStringLiteral("Дом"), 3960, 600, 495, 255);
    label(frame1, QStringLiteral("Label5"), QStringLiteral("Кв"), 4680, 600, 375, 255);

    QLineEdit *tent = lineEdit(this, QStringLiteral("Tent"), 1080, 960, 615, 285);
    tent->setToolTip(QStringLiteral("Для записи образца используются цифры и  символы шаблона ( *, ?).   * — соответствует цепочке цифр, ? — одной цифре"));
    QLineEdit *tefio = lineEdit(this, QStringLiteral("Tefio"), 1800, 960, 1095, 285);
    tefio->setToolTip(QStringLiteral("Для записи образца используются буквы и  символы шаблона ( *, ?).  Где  * — соответствует цепочке букв, ? — одной букве"));
    m_search.fields = {tent, tefio, lineEdit(this, QStringLiteral("Testr"), 3000, 960, 855, 285),
                       lineEdit(this, QStringLiteral("Tedom"), 3960, 960, 495, 285),
                       lineEdit(this, QStringLiteral("Tekv"), 4560, 960, 495, 285)};

    // Dialing panel.
    QGroupBox *frame2 = frame(QStringLiteral("Frame2"), QStringLiteral("Набрать номер"), 5280, 0, 3135, 1455);
    m_dial.dialFrame = frame2;
    auto *command2 = new QPushButton(frame2);
    m_dial.dial = command2;
    command2->setObjectName(QStringLiteral("Command2"));
    command2->setIcon(artwork::dialIcon());
    command2->setIconSize(QSize(24, 24));
    place(command2, 2400, 120, 735, 495);
    auto *command3 = new QPushButton(QStringLiteral("Отмена"), frame2);
    m_dial.cancel = command3;
    command3->setObjectName(QStringLiteral("Command3"));
    place(command3, 1560, 120, 735, 495);
    command3->hide();
    label(frame2, QStringLiteral("Label8"), QStringLiteral("Журнал звонков"), 120, 480, 1335, 255);
    auto *commy = new QComboBox(frame2);
    m_dial.commy = commy;
    commy->setObjectName(QStringLiteral("Commy"));
    commy->setEditable(true);
    // The dial box is retyped freely; what is typed is not added to the list.
    commy->setInsertPolicy(QComboBox::NoInsert);
    commy->setEditText(QStringLiteral("Commy"));
    place(commy, 120, 720, 3015, 315);
    QLabel *status = label(frame2, QStringLiteral("Status"), QString(), 120, 1080, 2895, 315);
    status->setFrameStyle(QFrame::Box | QFrame::Plain);
    status->setLineWidth(1);
    status->setAlignment(Qt::AlignCenter);
    m_dial.status = status;

    // Fields that only carry the current record's values; never shown.
    const auto bound = [&](QWidget *parent, const QString &name, double l, double t, double w, double h) {
        QLineEdit *edit = lineEdit(parent, name, l, t, w, h);
        edit->hide();
        return edit;
    };
    m_directories[0].number = bound(frame2, QStringLiteral("Text1"), 1560, 1080, 735, 285);
    m_directories[0].name = bound(frame2, QStringLiteral("Text2"), 120, 1080, 1335, 285);
    m_directories[1].number = bound(frame2, QStringLiteral("Text1_p"), 120, 1080, 1335, 285);
    m_directories[1].name = bound(frame2, QStringLiteral("Text2_p"), 1560, 1080, 735, 285);
    m_directories[2].number = bound(this, QStringLiteral("Text1_m"), 5400, 1080, 1335, 285);
    m_directories[2].name = bound(this, QStringLiteral("Text2_m"), 6840, 1080, 735, 285);

    // Modem panel.
    QGroupBox *frame3 = frame(QStringLiteral("Frame3"), QStringLiteral("Мой МОДЕМ"), 8520, 0, 1335, 1695);
    m_dial.modemFrame = frame3;
    label(frame3, arrayName("Label6", 0), QStringLiteral("ПОРТ:"), 120, 360, 495, 315);
    auto *port = new QComboBox(frame3);
    port->setObjectName(QStringLiteral("cboPort"));
    m_dial.port = port;
    place(port, 0, 600, 1305, 315);
    label(frame3, arrayName("Label6", 1), QStringLiteral("Подкл. k АТС:"), 120, 1080, 1095, 315);
    auto *exchange = new QComboBox(frame3);
    exchange->setObjectName(QStringLiteral("ATC"));
    m_dial.exchange = exchange;
    place(exchange, 0, 1320, 1305, 315);

    // Pictures.
    auto *picture = new PictureBox(this);
    m_picture = picture;
    picture->setObjectName(QStringLiteral("Picture2"));
    picture->setPixmap(artwork::townPicture());
    picture->setEnabled(false);
    place(picture, 7080, 50, 2775, 2295);
    auto *band = new QLabel(this);
    m_band = band;
    band->setObjectName(arrayName("Image1", 0));
    band->setPixmap(artwork::bandPicture());
    band->setScaledContents(true);
    place(band, 0, 1440, 9855, 405);

    // Directory area: the strip, then the navigation bars and the count
    // beside the tabs, then the grids over the strip's panel.
    auto *tabs = new TabStrip(this);
    m_search.tabs = tabs;
    tabs->setObjectName(QStringLiteral("TabStrip1"));
    tabs->setFont(designFont(8.25, true));
    const struct {
        const char16_t *caption;
        const char16_t *tag;
    } tabList[] = {{u"Население", u"TagN"}, {u"Предприятия", u"TagP"}, {u"Мой", u"TagM"}};
    for (const auto &tab : tabList) {
        const int index = tabs->addTab(QString::fromUtf16(tab.caption));
        tabs->setTabData(index, QString::fromUtf16(tab.tag));
    }
    tabs->setCurrentIndex(0);
    place(tabs, 0, 1800, 9855, 4695);

    for (int i = 0; i < 3; ++i) {
        QGroupBox *navigation = frame(arrayName("Frame5", i), QString(), 3960, 1920, 1845, 375);
        auto *data = new DataControl(QStringLiteral("Data%1").arg(i + 1), navigation);
        data->setObjectName(QStringLiteral("Data%1").arg(i + 1));
        place(data, 0, 0, 1845, 375);
        navigation->setVisible(i == 0);
        m_directories[i].navigationFrame = navigation;
        m_directories[i].data = data;
    }

    QGroupBox *frame6 = m_frame6 = frame(QStringLiteral("Frame6"), QString(), 5760, 1800, 975, 495);
    m_search.count = label(frame6, QStringLiteral("Label7"), QStringLiteral("Label7"), 120, 180, 855, 180);

    const double gridHeights[] = {4125, 4005, 3885};
    for (int i = 0; i < 3; ++i) {
        const auto kind = static_cast<DirectoryKind>(i + 1);
        QGroupBox *holder = frame(arrayName("Frame4", i), QString(), 0, 2280, 9735, 4095);
        auto *grid = new DirectoryGrid(kind == DirectoryKind::Personal, holder);
        grid->setObjectName(gridName(kind));
        grid->horizontalHeader()->setFont(designFont(8.25));
        grid->verticalHeader()->setFont(designFont(8.25));
        grid->setCellPointSize(kind == DirectoryKind::Enterprises ? 8.25 : 12);
        place(grid, 0, 120, 9690, gridHeights[i]);
        connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this,
                [this, kind](int column, int, int pixels) {
                    if (!m_applyingLayout)
                        Q_EMIT columnResized(kind, column, pixels);
                });
        m_directories[i].kind = kind;
        m_directories[i].gridFrame = holder;
        m_directories[i].grid = grid;
    }

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(300);
    connect(m_timer, &QTimer::timeout, this, &MainWindow::onTimerTick);
    m_timer->start();

    setStacking();
    setTabOrderChain();
}

void MainWindow::setStacking()
{
    // Back to front. The band is drawn under everything, as a plain image
    // would be; the panels cover the picture; the grid frames cover the
    // strip's panel, the residents' grid in front.
    QList<QWidget *> backToFront = {m_band, m_search.tabs, m_picture, m_frame1, m_dial.dialFrame,
                                    m_dial.modemFrame, m_frame6};
    for (int i = 2; i >= 0; --i)
        backToFront << m_directories[i].navigationFrame;
    for (int i = 2; i >= 0; --i)
        backToFront << m_directories[i].gridFrame;
    backToFront << m_search.clear;
    for (QLineEdit *field : m_search.fields)
        backToFront << field;
    backToFront << m_directories[2].number << m_directories[2].name;
    for (QWidget *w : backToFront)
        w->raise();
}

void MainWindow::setTabOrderChain()
{
    QList<QWidget *> order = {m_search.clear};
    for (QLineEdit *field : m_search.fields)
        order << field;
    order << m_dial.dial << m_dial.port << m_dial.exchange << m_dial.cancel << m_dial.commy
          << m_search.tabs << grid(DirectoryKind::Enterprises) << grid(DirectoryKind::Residents)
          << grid(DirectoryKind::Personal);
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void MainWindow::onTimerTick()
{
    setWindowTitle(scrollCaption(windowTitle()));
    Q_EMIT ticked();
}

LayoutInput MainWindow::layoutInput() const
{
    const QRectF picture = twipsGeometry(m_picture);
    const Placement outer = outerPlacement();
    LayoutInput in;
    in.minimised = isMinimized();
    in.width = outer.width;
    in.height = outer.height;
    in.dialPanelVisible = !m_dial.dialFrame->isHidden();
    in.pictureWidth = float(picture.width());
    in.pictureLeft = float(picture.left());
    in.pictureVisible = !m_picture->isHidden();
    return in;
}

void MainWindow::applyLayout(const LayoutPlan &plan)
{
    const auto size = [this](QWidget *control, float width, std::optional<float> height) {
        QRectF r = twipsGeometry(control);
        r.setWidth(width);
        if (height)
            r.setHeight(*height);
        setTwipsGeometry(control, r);
    };
    size(m_search.tabs, plan.tabStripWidth, plan.tabStripHeight);
    for (const DirectoryControls &d : m_directories)
        size(d.gridFrame, plan.frameWidth, plan.frameHeight);
    for (const DirectoryControls &d : m_directories)
        size(d.grid, plan.gridWidth, plan.gridHeight);
    size(m_band, plan.bandWidth, std::nullopt);
    if (plan.pictureLeft) {
        QRectF r = twipsGeometry(m_picture);
        r.moveLeft(*plan.pictureLeft);
        setTwipsGeometry(m_picture, r);
    }
    if (plan.pictureVisible)
        m_picture->setVisible(*plan.pictureVisible);

    // Widths set here are not the user's: they must not be stored back.
    m_applyingLayout = true;
    // A column narrower than half a pixel still shows as one; only a width
    // of 0 hides it.
    for (const ColumnWidth &c : plan.columns)
        grid(DirectoryKind(c.grid))->setColumnWidth(
                c.column, c.width > 0 ? std::max(1, twipsToPixels(c.width, m_dpi)) : 0);
    m_applyingLayout = false;
    for (const DirectoryControls &d : m_directories)
        d.grid->setCellPointSize(plan.cellPointSize[static_cast<int>(d.kind) - 1]);
    for (const DirectoryControls &d : m_directories)
        d.grid->viewport()->update();
}

Placement MainWindow::outerPlacement() const
{
    const QRect outer = frameGeometry();
    return Placement{float(pixelsToTwips(outer.x(), m_dpi)), float(pixelsToTwips(outer.y(), m_dpi)),
                     float(pixelsToTwips(outer.width(), m_dpi)),
                     float(pixelsToTwips(outer.height(), m_dpi))};
}

void MainWindow::setOuterPlacement(const Placement &p)
{
    applyOuterPlacement(p);
    if (isActiveWindow())
        m_placementToRedo.reset();
    else
        m_placementToRedo = p;
}

void MainWindow::changeEvent(QEvent *event)
{
    // By the first activation the window manager has framed the window:
    // sized without its frame, the window would grow by the frame at every
    // start.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_placementToRedo)
        applyOuterPlacement(*std::exchange(m_placementToRedo, std::nullopt));
    QWidget::changeEvent(event);
}

void MainWindow::applyOuterPlacement(const Placement &p)
{
    // The stored size is the outer one, frame and title bar included.
    const QSize frame = frameGeometry().size() - size();
    resize(QSize(twipsToPixels(p.width, m_dpi), twipsToPixels(p.height, m_dpi)) - frame);
    move(twipsToPixels(p.left, m_dpi), twipsToPixels(p.top, m_dpi));
}

} // namespace korvana
