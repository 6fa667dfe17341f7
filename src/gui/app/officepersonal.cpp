#include "gui/app/officepersonal.h"

#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/server/editionwatch.h"
#include "core/server/officenotes.h"
#include "gui/app/officeseat.h"
#include "core/store/directorykind.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"

#include "gui/window/messages.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>

#include <utility>

namespace korvana {

namespace {

// Short enough for the status box; the tooltip says the rest.
const QString kOffline = QStringLiteral("Нет связи с сервером");
const QString kOfflineTip = QStringLiteral("МОЙ справочник показан таким, каким был при последней связи; "
                                           "изменения не сохраняются до её восстановления.");

} // namespace

OfficePersonal::OfficePersonal(OfficeSeat &seat, Store *store, RecordSource *personal, PersonalModel *model,
                               MainWindow &window, PersonalMode mode, QObject *parent)
    : QObject(parent), m_notes(new OfficeNotes(seat.service(), store, mode, this)), m_personal(personal),
      m_model(model), m_window(window)
{
    m_personal->setWriter(m_notes);
    // The watch says when the server's rows changed, and when it is back
    // after an outage; the mirror is read then, never during typing.
    connect(seat.watch(), &EditionWatch::notesChanged, this, &OfficePersonal::take);
    connect(seat.watch(), &EditionWatch::connectionLost, this, [this] { online(false); });
    connect(&seat, &OfficeSeat::editionTaken, m_notes, &OfficeNotes::refresh);
    // Queued: a save announces the mirror while its row is still pending.
    connect(m_notes, &OfficeNotes::mirrorChanged, this, &OfficePersonal::follow, Qt::QueuedConnection);
    connect(m_personal, &RecordSource::repositioned, this, [this] {
        if (m_stale)
            take();
    }, Qt::QueuedConnection);
    m_editTriggers = int(m_window.grid(DirectoryKind::Personal)->editTriggers());
    connect(m_notes, &OfficeNotes::onlineChanged, this, &OfficePersonal::online);
    online(m_notes->isOnline());
    // Not from inside the refresh that found the server: the question waits in an event loop.
    connect(m_notes, &OfficeNotes::onlineChanged, this, [this](bool up) {
        if (up)
            offer();
    }, Qt::QueuedConnection);
}

void OfficePersonal::offerLocalEntries(const QString &localDb, QSettings *settings)
{
    m_localDb = localDb;
    m_settings = settings;
    if (m_notes->isOnline())
        offer();
}

void OfficePersonal::offer()
{
    const QString key = QStringLiteral("Server/LocalPersonalOffered");
    const QString service = m_notes->service();
    if (m_localDb.isEmpty() || !m_settings || m_settings->value(key).toStringList().contains(service)
        || !QFileInfo(m_localDb).isFile())
        return;
    const QString localDb = std::exchange(m_localDb, {}); // one question per run, whatever comes of it
    QString error;
    const QList<QVariantList> rows = readLocalNotes(localDb, &error);
    if (rows.isEmpty())
        return;
    const bool own = m_notes->mode() == PersonalMode::Own;
    const QStringList question = {
        QStringLiteral("В справочнике «Мой» этого компьютера записей: %1.").arg(rows.size()),
        (own ? QStringLiteral("Добавить их в ваш справочник «Мой» на сервере «%1»?")
             : QStringLiteral("Добавить их в общий справочник «Мой» на сервере «%1»?"))
            .arg(service),
        QStringLiteral("Записи, которые там уже есть, не повторятся; файл %1 не изменится.")
            .arg(QDir::toNativeSeparators(localDb)),
    };
    const auto answered = [&] {
        m_settings->setValue(key, m_settings->value(key).toStringList() << service);
        m_settings->sync();
    };
    if (showMessage(&m_window, question, MessageIcon::None, MessageButtons::YesNo) != MessageAnswer::Yes)
        return answered();
    if (m_notes->addEntries(rows) >= 0)
        return answered();
    showMessage(&m_window,
                {QStringLiteral("Записи справочника «Мой» не добавлены на сервер «%1»:").arg(service),
                 m_notes->lastError(), QStringLiteral("Вопрос будет задан при следующем запуске Korvana."),
                 QStringLiteral("Нажмите <Enter> или <OK>")},
                MessageIcon::Critical, MessageButtons::Ok);
}

void OfficePersonal::take()
{
    // A row being edited keeps the rows and versions it was read with: its
    // save is checked against them when it is left, then the rest follows.
    if (m_model->hasPendingRow()) {
        m_stale = true;
        return;
    }
    m_stale = false;
    m_notes->refresh();
}

void OfficePersonal::follow()
{
    if (m_model->hasPendingRow()) {
        m_stale = true;
        return;
    }
    // A hidden tab is searched again when it is chosen; refreshing it now
    // would put its count and entry in the shared displays.
    if (kindForTab(m_window.searchPanel().tabs->currentIndex() + 1) != DirectoryKind::Personal)
        return;
    // The current entry stays current wherever the new rows put it.
    const int at = m_personal->absolutePosition();
    const qint64 id = at >= 0 ? m_personal->rowId(at) : -1;
    m_personal->refresh();
    for (int r = 0; id >= 0 && r < m_personal->recordCount(); ++r) {
        if (m_personal->rowId(r) == id) {
            m_personal->moveTo(r);
            break;
        }
    }
}

void OfficePersonal::online(bool up)
{
    DirectoryGrid *grid = m_window.grid(DirectoryKind::Personal);
    grid->setEditTriggers(up ? QAbstractItemView::EditTriggers(m_editTriggers) : QAbstractItemView::NoEditTriggers);
    QLabel *status = m_window.dialPanel().status;
    if (!up) {
        status->setText(kOffline);
        status->setToolTip(kOfflineTip);
    } else if (status->text() == kOffline) {
        status->clear();
        status->setToolTip({});
    }
}

} // namespace korvana
