#include "gui/search/gridmenu.h"

#include "core/search/directorymodel.h"
#include "gui/search/directories.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>

namespace korvana {

namespace {

// Nothing to copy (no current row) leaves the clipboard as it was.
void copy(const QString &text)
{
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

QAction *action(QWidget *grid, const char *name, const QString &text)
{
    auto *a = new QAction(text, grid);
    a->setObjectName(QString::fromLatin1(name));
    grid->addAction(a);
    return a;
}

} // namespace

GridMenu::GridMenu(const DirectoryView &view, const QWidget *dialFrame, QObject *parent)
    : QObject(parent), m_view(view), m_dialFrame(dialFrame)
{
    DirectoryGrid *grid = view.controls->grid;
    m_copyNumber = action(grid, "copyNumber", QStringLiteral("Копировать номер"));
    m_copyRow = action(grid, "copyEntry", QStringLiteral("Копировать запись"));
    m_dial = action(grid, "callNumber", QStringLiteral("Позвонить"));
    m_qrCode = action(grid, "qrCodeOfNumber", QStringLiteral("QR-код номера"));
    // Only while the grid itself has the focus: an open cell editor of the
    // personal grid keeps Ctrl+C for its own selection.
    m_copyNumber->setShortcut(QKeySequence::Copy);
    m_copyNumber->setShortcutContext(Qt::WidgetShortcut);
    connect(m_copyNumber, &QAction::triggered, this, [this] { copy(numberText()); });
    connect(m_copyRow, &QAction::triggered, this, [this] { copy(rowText()); });
    connect(m_dial, &QAction::triggered, this, &GridMenu::dialRequested);
    connect(m_qrCode, &QAction::triggered, this, &GridMenu::qrCodeRequested);

    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this, &GridMenu::popUp);
}

QString GridMenu::numberText() const
{
    return m_view.controls->number->text();
}

QString GridMenu::rowText() const
{
    const DirectoryGrid *grid = m_view.controls->grid;
    const int row = grid->currentIndex().row();
    if (row < 0)
        return {};
    QStringList cells;
    for (int c = 0, n = m_view.model->columnCount(); c < n; ++c) {
        if (grid->isColumnHidden(c))
            continue;
        QString cell = m_view.model->index(row, c).data().toString();
        for (QChar &ch : cell)
            if (ch == u'\t' || ch == u'\n' || ch == u'\r')
                ch = u' ';
        cells << cell;
    }
    return cells.join(u'\t');
}

void GridMenu::popUp(const QPoint &pos)
{
    DirectoryGrid *grid = m_view.controls->grid;
    const QModelIndex at = grid->indexAt(pos);
    if (at.isValid())
        grid->setCurrentIndex(at);
    m_dial->setEnabled(!m_dialFrame->isHidden());
    auto *menu = new QMenu(grid);
    menu->setObjectName(QStringLiteral("GridMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions({m_copyNumber, m_copyRow});
    menu->addSeparator();
    menu->addActions({m_dial, m_qrCode});
    menu->popup(grid->viewport()->mapToGlobal(pos));
}

} // namespace korvana
