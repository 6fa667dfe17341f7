#include "gui/window/controls.h"

#include <QPaintEvent>
#include <QPainter>
#include <qdrawutil.h>
#include <QStyleOptionHeader>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>

namespace korvana {

TabStrip::TabStrip(QWidget *parent)
    : QTabBar(parent)
{
    setDrawBase(false);
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
}

void TabStrip::paintEvent(QPaintEvent *event)
{
    {
        QStylePainter painter(this);
        QRect tabs;
        for (int i = 0; i < count(); ++i)
            tabs |= tabRect(i);
        const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
        QStyleOptionTabWidgetFrame frame;
        frame.initFrom(this);
        frame.shape = shape();
        frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        frame.tabBarSize = tabs.size();
        frame.tabBarRect = tabs;
        frame.selectedTabRect = currentIndex() >= 0 ? tabRect(currentIndex()) : QRect();
        frame.rect = rect().adjusted(0, qMax(0, tabs.bottom() + 1 - overlap), 0, 0);
        painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
    }
    QTabBar::paintEvent(event);
}

Frame::Frame(const QString &title, QWidget *parent)
    : QGroupBox(title, parent)
{
    setAutoFillBackground(true);
}

void Frame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const bool titled = !title().isEmpty();
    const QRect line = rect().adjusted(0, titled ? metrics.height() / 2 : 0, 0, 0);
    qDrawShadeRect(&painter, line, palette(), true, 1, 0);
    if (!titled)
        return;
    const int indent = qMin(6, width() / 10);
    const QRect caption(indent, 0, qMin(metrics.horizontalAdvance(title()) + 4, width() - indent), metrics.height());
    painter.fillRect(caption, palette().window());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, title());
}

PictureBox::PictureBox(QWidget *parent)
    : QLabel(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect inside = contentsRect();
    painter.setClipRect(inside);
    painter.drawPixmap(inside.topLeft(), pixmap());
}

RecordSelector::RecordSelector(QWidget *parent)
    : QHeaderView(Qt::Vertical, parent)
{
    setSectionsClickable(false);
    setHighlightSections(false);
    setFixedWidth(sizeHint().width());
}

QSize RecordSelector::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setWidth(qMax(14, fontMetrics().height() + 2));
    return size;
}

QString RecordSelector::markOf(int row) const
{
    // The model's own marks: "✎" a row with unsaved changes, "*" the line
    // for a new entry. The pointer is drawn, not taken from the model.
    const QString mark = model() ? model()->headerData(row, Qt::Vertical).toString() : QString();
    return mark == QStringLiteral("▶") ? QString() : mark;
}

int RecordSelector::currentRow() const
{
    return selectionModel() ? selectionModel()->currentIndex().row() : -1;
}

void RecordSelector::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = logicalIndex;
    option.text.clear();
    option.icon = QIcon();
    // The style puts back a clip region of its own, which hides all after it.
    painter->save();
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
    painter->restore();
    // Unsaved changes outrank the pointer, the pointer the new-entry mark.
    const QString mark = markOf(logicalIndex);
    if (mark.isEmpty() || (logicalIndex == currentRow() && mark == QStringLiteral("*")))
        return;
    painter->save();
    painter->setPen(palette().color(QPalette::ButtonText));
    painter->drawText(rect, Qt::AlignCenter, mark);
    painter->restore();
}

void RecordSelector::paintEvent(QPaintEvent *event)
{
    QHeaderView::paintEvent(event);
    const int row = currentRow();
    if (row < 0 || row >= count() || isSectionHidden(row))
        return;
    const int top = sectionViewportPosition(row);
    const int size = sectionSize(row);
    if (top + size < 0 || top > viewport()->height())
        return;
    if (markOf(row) == QStringLiteral("✎"))
        return;
    // The pointer at the current record.
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::ButtonText));
    const qreal h = qBound<qreal>(3, size - 6, 8);
    const QPointF centre(viewport()->width() / 2.0, top + size / 2.0);
    QPolygonF pointer;
    pointer << QPointF(centre.x() - h / 4, centre.y() - h / 2) << QPointF(centre.x() + h / 4 + 1, centre.y())
            << QPointF(centre.x() - h / 4, centre.y() + h / 2);
    painter.drawPolygon(pointer);
}

void RecordSelector::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QHeaderView::currentChanged(current, previous);
    // The pointer moves with the row, whatever column the cell is in.
    viewport()->update();
}

DirectoryGrid::DirectoryGrid(bool editable, QWidget *parent)
    : QTableView(parent)
{
    setVerticalHeader(new RecordSelector(this));
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked
                                   | QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed
                             : QAbstractItemView::NoEditTriggers);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setTextElideMode(Qt::ElideRight);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    // Columns show the widths of the width table, however narrow; Qt's
    // default floor (the header font's widest letter) would widen the
    // narrow ones and keep the user from dragging below it.
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setMinimumSectionSize(8);
}

void DirectoryGrid::setCellPointSize(qreal points)
{
    // The headers carry their own font (set by the window), so only the
    // cells follow.
    QFont cells = font();
    cells.setPointSizeF(points);
    setFont(cells);
    verticalHeader()->setDefaultSectionSize(QFontMetrics(cells).height() + 4);
}

qreal DirectoryGrid::cellPointSize() const
{
    return font().pointSizeF();
}

} // namespace korvana
