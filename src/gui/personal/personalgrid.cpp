#include "gui/personal/personalgrid.h"

#include "core/personal/personalcopy.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/store/store.h"
#include "gui/search/directories.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"
#include "gui/window/messages.h"

#include <QAbstractItemDelegate>
#include <QEvent>
#include <QKeyEvent>
#include <QTimer>

namespace korvana {

namespace {
const QString kPressEnter = QStringLiteral("Нажмите <Enter> или <OK>");
}

PersonalGrid::PersonalGrid(MainWindow &window, Directories &directories, Store *store,
                           QObject *parent)
    : QObject(parent), m_window(window), m_directories(directories), m_store(store),
      m_residentsViewport(window.grid(DirectoryKind::Residents)->viewport()),
      m_enterprisesViewport(window.grid(DirectoryKind::Enterprises)->viewport()),
      m_personalGrid(window.grid(DirectoryKind::Personal))
{
    m_residentsViewport->installEventFilter(this);
    m_enterprisesViewport->installEventFilter(this);
    m_personalGrid->installEventFilter(this);
    PersonalModel *model = directories.personalModel();
    connect(model, &PersonalModel::aboutToWrite, this, &PersonalGrid::commitOpenEditor);
    connect(model, &PersonalModel::writeFailed, this, [this](const QString &why) {
        showMessage(&m_window,
                    {QStringLiteral("Изменение МОЕГО справочника не сохранено."), why,
                     QStringLiteral("Исправьте запись или откажитесь от неё клавишей <Esc>."),
                     kPressEnter},
                    MessageIcon::Critical, MessageButtons::Ok);
    });
}

void PersonalGrid::commitOpenEditor()
{
    // The editor hands its text over only when it loses the focus, which at
    // a close comes after the window is gone.
    const QModelIndex at = m_personalGrid->currentIndex();
    QWidget *editor = at.isValid() ? m_personalGrid->indexWidget(at) : nullptr;
    if (!editor)
        return;
    QAbstractItemDelegate *delegate = m_personalGrid->itemDelegateForIndex(at);
    Q_EMIT delegate->commitData(editor);
    Q_EMIT delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void PersonalGrid::copyFrom(DirectoryKind source)
{
    const auto result = PersonalCopy::copy(
        *m_directories[source].source, *m_directories[DirectoryKind::Personal].source,
        [this](const QString &prompt) {
            return showMessage(&m_window, {prompt}, MessageIcon::None, MessageButtons::YesNo)
                == MessageAnswer::Yes;
        });
    if (result == PersonalCopy::Result::Refused)
        showMessage(&m_window,
                    {QStringLiteral("Запись не добавлена в МОЙ справочник."),
                     m_store ? m_store->lastError() : QStringLiteral("Нет файла справочника."),
                     kPressEnter},
                    MessageIcon::Critical, MessageButtons::Ok);
}

bool PersonalGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick
        && (watched == m_residentsViewport || watched == m_enterprisesViewport)) {
        const DirectoryKind kind = watched == m_residentsViewport ? DirectoryKind::Residents
                                                                 : DirectoryKind::Enterprises;
        // Let the grid make the row under the pointer current first.
        QTimer::singleShot(0, this, [this, kind] { copyFrom(kind); });
        return false;
    }
    DirectoryGrid *grid = m_personalGrid;
    if (event->type() == QEvent::KeyPress && watched == grid) {
        PersonalModel *model = m_directories.personalModel();
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Escape) {
            model->revertPending();
            return true;
        }
        if (key == Qt::Key_Delete) {
            const int row = grid->currentIndex().row();
            if (row >= 0 && !model->isNewRow(row)
                && showMessage(&m_window, {QStringLiteral("Удалить запись из МОЕГО справочника?")},
                               MessageIcon::None, MessageButtons::YesNo)
                    == MessageAnswer::Yes)
                model->removeEntry(row);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvana
