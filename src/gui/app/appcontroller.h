#pragma once

#include "core/app/placement.h"
#include "core/store/directorykind.h"
#include "core/window/widthtable.h"

#include <QObject>
#include <QString>

#include <memory>

class QSettings;

namespace korvana {

class DialerPanel;
class Directories;
class MainWindow;
class OfficePersonal;
enum class PersonalMode;
class OfficeSeat;
class PersonalGrid;
class PersonalModel;
class RecordSource;
class SearchController;
class Store;

// The program's life: what runs when the window loads (the store, the lists,
// the side files, the placement) and unloads (widths and placement saved),
// and the wiring of the subsystems onto the window.
class AppController : public QObject {
    Q_OBJECT
public:
    // `folder` holds kadu.db and the side files; `settings` is the per-user
    // store (not owned). logicalDpi 0 takes the screen's.
    AppController(const QString &folder, QSettings *settings, qreal logicalDpi = 0,
                  QObject *parent = nullptr);
    ~AppController() override;

    // Makes the window a seat of the office server of `service` (a libpq
    // service name): its directory is the seat's copy of the served edition.
    // Called before start(); without it the settings' [Server] Service
    // counts, and without that the folder's kadu.db.
    void setOfficeService(const QString &service) { m_service = service; }
    OfficeSeat *seat() const { return m_seat; }
    OfficePersonal *officePersonal() const { return m_officePersonal; }

    // Loads everything and shows the window; the first search runs when the
    // focus lands in the number field.
    void start();

    MainWindow *window() const { return m_window.get(); }
    SearchController *search() const { return m_search; }
    DialerPanel *dialer() const { return m_dialer; }
    RecordSource *source(DirectoryKind kind) const;
    PersonalModel *personalModel() const;
    const WGridCol &widths() const { return m_widths; }
    Store *store() const { return m_store.get(); }

    // The two own numbers every user has in the dial list.
    static QStringList builtInNumbers();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void loadPropertySettings();
    // [Server] Personal; a value that is no mode is told and taken as own.
    PersonalMode personalMode() const;
    void restorePlacement();
    void layout();
    // False when «Мой» cannot be saved: the window then stays open.
    bool shutDown();
    void reportUnsaved(const QStringList &lines);

    QString m_folder;
    QSettings *m_settings;
    QString m_service;
    OfficeSeat *m_seat = nullptr;
    OfficePersonal *m_officePersonal = nullptr;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<Directories> m_directories;
    SearchController *m_search = nullptr;
    DialerPanel *m_dialer = nullptr;
    PersonalGrid *m_personal = nullptr;
    WGridCol m_widths;
    Placement m_placement; // as restored, set again once the window has its frame
    bool m_shutDown = false;
};

} // namespace korvana
