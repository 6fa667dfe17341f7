#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSettings;

namespace korvana {

class EditionWatch;
class Store;

// A seat of an office: its directory file is its copy of the edition the
// server serves ($XDG_CACHE_HOME/korvana/SERVICE.db), searched like any
// kadu.db. The server is asked once at start and listened to while the
// window runs; a server out of reach never stops the seat.
class OfficeSeat : public QObject {
    Q_OBJECT
public:
    explicit OfficeSeat(const QString &service, QObject *parent = nullptr);
    ~OfficeSeat() override;

    // The service of the options, else [Server] Service of the settings; empty: no office.
    static QString serviceFor(const QString &option, QSettings &settings);

    QString service() const { return m_service; }
    QString copyPath() const { return m_copy; }

    // At start: takes a newer edition with the progress dialog (Cancel keeps
    // the copy) and opens the copy. A server out of reach, or one without an
    // edition, gets one message; the copy then opens as it is. Null when there
    // is no copy to open.
    std::unique_ptr<Store> openCopy();

    // While the window runs: a new edition on the server brings the question
    // of a new kadu.mdb; Yes takes it into the copy and `store` (the store on
    // the copy, may be null) over to it, then editionTaken().
    void listen(Store *store);
    EditionWatch *watch() const { return m_watch; }

signals:
    void editionTaken();

private:
    void served(qint64 id);
    void ask(qint64 id);

    QString m_service;
    QString m_copy;
    Store *m_store = nullptr;
    EditionWatch *m_watch = nullptr;
    qint64 m_asked = 0; // the edition last offered in this run
    bool m_busy = false;
    qint64 m_later = 0; // announced while busy
};

} // namespace korvana
