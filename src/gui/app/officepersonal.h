#pragma once

#include "core/server/servernotes.h"

#include <QObject>

class QSettings;

namespace korvana {

class MainWindow;
class OfficeNotes;
class OfficeSeat;
class PersonalModel;
class RecordSource;
class Store;

// «Мой» of a seat on the office server: writes go to the server, the
// notices of other seats' changes bring the rows into the tab without a
// keystroke, and a row the user is editing is left alone until it is left.
// Without the server the tab keeps the last rows, the grid takes no edits
// and the status line says why.
class OfficePersonal : public QObject {
    Q_OBJECT
public:
    OfficePersonal(OfficeSeat &seat, Store *store, RecordSource *personal, PersonalModel *model,
                   MainWindow &window, PersonalMode mode, QObject *parent = nullptr);
    OfficeNotes *notes() const { return m_notes; }

    // A seat that kept «Мой» in its own kadu.db is asked, once the server is
    // reached, whether to add those entries to its list on the server. The
    // answer is kept in the settings, so it is asked once; the file is only read.
    void offerLocalEntries(const QString &localDb, QSettings *settings);

private:
    void take();   // the server's rows into the mirror, unless a row is being edited
    void follow(); // the mirror into the tab
    void online(bool up);
    void offer();

    OfficeNotes *m_notes;
    RecordSource *m_personal;
    PersonalModel *m_model;
    MainWindow &m_window;
    int m_editTriggers = 0; // the grid's own, given back when the server is
    bool m_stale = false; // the server changed while a row was being edited
    QString m_localDb;     // whose «Мой» is still to be offered
    QSettings *m_settings = nullptr;
};

} // namespace korvana
