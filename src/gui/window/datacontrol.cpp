#include "gui/window/datacontrol.h"

#include "core/search/recordsource.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace korvana {

namespace {

// A triangle, with a bar at its point for first and last.
QPixmap arrowPixmap(int size, bool bar, bool pointsLeft, const QColor &colour, qreal dpr)
{
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const qreal mid = size / 2.0;
    const qreal half = size * 0.36;
    const qreal depth = size * 0.5;
    const qreal barWidth = bar ? qMax<qreal>(1.5, size * 0.16) : 0;
    const qreal total = depth + (bar ? barWidth + 1 : 0);
    const qreal left = (size - total) / 2.0;
    QPolygonF triangle;
    if (pointsLeft) {
        const qreal tip = left + (bar ? barWidth + 1 : 0);
        triangle << QPointF(tip, mid) << QPointF(tip + depth, mid - half) << QPointF(tip + depth, mid + half);
        if (bar)
            p.drawRect(QRectF(left, mid - half, barWidth, 2 * half));
    } else {
        triangle << QPointF(left + depth, mid) << QPointF(left, mid - half) << QPointF(left, mid + half);
        if (bar)
            p.drawRect(QRectF(left + depth + 1, mid - half, barWidth, 2 * half));
    }
    p.drawPolygon(triangle);
    return pixmap;
}

} // namespace

DataControl::DataControl(const QString &caption, QWidget *parent)
    : QWidget(parent)
{
    m_first = makeButton(QStringLiteral("first"));
    m_previous = makeButton(QStringLiteral("previous"));
    m_next = makeButton(QStringLiteral("next"));
    m_last = makeButton(QStringLiteral("last"));

    m_caption = new QLabel(caption, this);
    m_caption->setObjectName(QStringLiteral("caption"));
    m_caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_caption->setIndent(3);
    m_caption->setAutoFillBackground(true);
    m_caption->setBackgroundRole(QPalette::Base);
    m_caption->setForegroundRole(QPalette::Text);

    // Moving through records, not a place to type: the focus stays where
    // the user searches.
    setFocusPolicy(Qt::NoFocus);

    connect(m_first, &QToolButton::clicked, this, [this] {
        if (m_source)
            m_source->moveFirst();
    });
    // The bar never leaves the result: at either end its step does nothing.
    connect(m_previous, &QToolButton::clicked, this, [this] {
        if (m_source && m_source->absolutePosition() > 0)
            m_source->movePrevious();
    });
    connect(m_next, &QToolButton::clicked, this, [this] {
        if (m_source && m_source->absolutePosition() < m_source->recordCount() - 1)
            m_source->moveNext();
    });
    connect(m_last, &QToolButton::clicked, this, [this] {
        if (m_source)
            m_source->moveLast();
    });

    updateIcons();
    place();
}

QToolButton *DataControl::makeButton(const QString &name)
{
    auto *button = new QToolButton(this);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(false);
    // Holding a button down walks through the records as on the classic bar.
    button->setAutoRepeat(name == QLatin1String("previous") || name == QLatin1String("next"));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    return button;
}

void DataControl::updateIcons()
{
    const qreal dpr = devicePixelRatioF();
    const int size = 9;
    const QColor active = palette().color(QPalette::Active, QPalette::ButtonText);
    const QColor disabled = palette().color(QPalette::Disabled, QPalette::ButtonText);
    const struct {
        QToolButton *button;
        bool bar;
        bool left;
    } buttons[] = {{m_first, true, true}, {m_previous, false, true}, {m_next, false, false}, {m_last, true, false}};
    for (const auto &b : buttons) {
        QIcon icon;
        icon.addPixmap(arrowPixmap(size, b.bar, b.left, active, dpr), QIcon::Normal);
        icon.addPixmap(arrowPixmap(size, b.bar, b.left, disabled, dpr), QIcon::Disabled);
        b.button->setIcon(icon);
        b.button->setIconSize(QSize(size, size));
    }
}

void DataControl::place()
{
    // Buttons a little narrower than high, as the classic bar has them;
    // the caption takes what is left between them.
    const int h = height();
    const int buttonWidth = qBound(12, (h * 3) / 4, qMax(12, width() / 6));
    m_first->setGeometry(0, 0, buttonWidth, h);
    m_previous->setGeometry(buttonWidth, 0, buttonWidth, h);
    m_last->setGeometry(width() - buttonWidth, 0, buttonWidth, h);
    m_next->setGeometry(width() - 2 * buttonWidth, 0, buttonWidth, h);
    m_caption->setGeometry(2 * buttonWidth, 0, qMax(0, width() - 4 * buttonWidth), h);
}

void DataControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    place();
}

void DataControl::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        updateIcons();
}

QString DataControl::caption() const
{
    return m_caption->text();
}

void DataControl::setCaption(const QString &caption)
{
    m_caption->setText(caption);
}

RecordSource *DataControl::recordSource() const
{
    return m_source.data();
}

void DataControl::setRecordSource(RecordSource *source)
{
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_source = source;
    if (!source)
        return;
    m_connections << connect(source, &RecordSource::captionChanged, this, &DataControl::setCaption);
    if (!source->caption().isEmpty())
        setCaption(source->caption());
}

} // namespace korvana
