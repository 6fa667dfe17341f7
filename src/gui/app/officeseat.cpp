#include "gui/app/officeseat.h"

#include "core/server/editionwatch.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"
#include "core/store/store.h"
#include "gui/app/importdialog.h"
#include "gui/app/upgradedialog.h"
#include "gui/window/messages.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <utility>

namespace korvana {

namespace {

const QString kPressEnter = QStringLiteral("Нажмите <Enter> или <OK>");

QStringList whatTheAdministratorDoes(const QString &service)
{
    return {QStringLiteral("Справочник с этого сервера ещё не получен."),
            QStringLiteral("Администратору: загрузите издание на сервер командой korvana-import --server"),
            QStringLiteral("и проверьте службу [%1] в pg_service.conf и пароль в .pgpass рабочего места")
                .arg(service),
            QStringLiteral("(README, раздел «An office on one server»).")};
}

QString copyDate(const QString &copy)
{
    return QFileInfo(copy).lastModified().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

} // namespace

OfficeSeat::OfficeSeat(const QString &service, QObject *parent)
    : QObject(parent), m_service(service), m_copy(seatCopyPath(service))
{
}

OfficeSeat::~OfficeSeat() = default;

QString OfficeSeat::serviceFor(const QString &option, QSettings &settings)
{
    if (!option.isEmpty())
        return option;
    return settings.value(QStringLiteral("Server/Service")).toString().trimmed();
}

std::unique_ptr<Store> OfficeSeat::openCopy()
{
    const bool hasCopy = QFileInfo(m_copy).isFile();
    PgConnection db;
    QString why;
    std::optional<ServedEdition> served;
    const bool reached = db.open(m_service) && ((served = servedEdition(db, &why)) || why.isEmpty());
    if (!reached) {
        QStringList lines = {QStringLiteral("Нет связи с сервером справочника «%1»:").arg(m_service),
                             why.isEmpty() ? db.error() : why};
        lines << (hasCopy ? QStringList{QStringLiteral("Открыт справочник, полученный %1.").arg(copyDate(m_copy))}
                          : whatTheAdministratorDoes(m_service));
        showMessage(nullptr, lines << kPressEnter, MessageIcon::Critical, MessageButtons::Ok);
    } else if (!served && !hasCopy) {
        showMessage(nullptr,
                    QStringList{QStringLiteral("На сервере справочника «%1» ещё нет издания.").arg(m_service)}
                        + whatTheAdministratorDoes(m_service).mid(1) << kPressEnter,
                    MessageIcon::Critical, MessageButtons::Ok);
    } else if (served && served->id != copiedEdition(m_copy)) {
        QString error;
        bool cancelled = false;
        if (!fetchServedEditionWithProgress(nullptr, db, m_copy, &error, &cancelled) && !cancelled)
            showMessage(nullptr,
                        {error, hasCopy ? QStringLiteral("Справочник остался прежним.")
                                        : QStringLiteral("Справочники будут пустыми."),
                         kPressEnter},
                        MessageIcon::Critical, MessageButtons::Ok);
        // Cancelled here is answered: not offered again in this run.
        m_asked = served->id;
    }
    if (!QFileInfo(m_copy).isFile())
        return nullptr;
    Store::OpenStatus status = Store::OpenStatus::Ok;
    std::unique_ptr<Store> store = openStoreWithProgress(nullptr, m_copy, &status, &why);
    if (!store)
        showMessage(nullptr,
                    {QStringLiteral("Не удалось открыть файл справочника:"), QDir::toNativeSeparators(m_copy),
                     why, QStringLiteral("Справочники будут пустыми."), kPressEnter},
                    MessageIcon::Critical, MessageButtons::Ok);
    return store;
}

void OfficeSeat::listen(Store *store)
{
    m_store = store;
    m_watch = new EditionWatch(m_service, this);
    connect(m_watch, &EditionWatch::servedEditionIs, this, &OfficeSeat::served);
    m_watch->start();
}

void OfficeSeat::served(qint64 id)
{
    // A notice that comes while the question or the fetch is on screen is
    // taken up when they are done, not as a second question on top.
    if (m_busy) {
        m_later = id;
        return;
    }
    if (id == m_asked || id == copiedEdition(m_copy))
        return;
    m_asked = id;
    m_busy = true;
    ask(id);
    m_busy = false;
    if (const qint64 later = std::exchange(m_later, 0))
        served(later);
}

void OfficeSeat::ask(qint64 id)
{
    const QStringList question = {
        QStringLiteral("Найден новый справочник: издание %1 на сервере «%2».").arg(id).arg(m_service),
        QStringLiteral("Обновить справочники «Население» и «Предприятия»?"),
        QStringLiteral("Ваш справочник «Мой» сохранится."),
    };
    if (showMessage(nullptr, question, MessageIcon::None, MessageButtons::YesNo) != MessageAnswer::Yes)
        return;
    PgConnection db;
    QString error;
    bool cancelled = false;
    if (!db.open(m_service)) {
        error = QStringLiteral("Нет связи с сервером справочника «%1»: %2").arg(m_service, db.error());
    } else if (fetchServedEditionWithProgress(nullptr, db, m_copy, &error, &cancelled)) {
        Store::OpenStatus status;
        std::unique_ptr<Store> fresh = Store::open(m_copy, &status, &error);
        if (fresh && m_store) {
            m_store->takeOver(std::move(fresh));
            emit editionTaken();
            return;
        }
        if (fresh) {
            // A seat that started without any copy has no store to move over.
            showMessage(nullptr,
                        {QStringLiteral("Справочник получен с сервера «%1».").arg(m_service),
                         QStringLiteral("Он откроется при следующем запуске Korvana."), kPressEnter},
                        MessageIcon::None, MessageButtons::Ok);
            return;
        }
    }
    if (cancelled)
        return;
    showMessage(nullptr, {error, QStringLiteral("Справочник остался прежним."), kPressEnter},
                MessageIcon::Critical, MessageButtons::Ok);
}

} // namespace korvana
