#pragma once

#include <QObject>

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
                   MainWindow &window, QObject *parent = nullptr);
    OfficeNotes *notes() const { return m_notes; }

private:
    void take();   // the server's rows into the mirror, unless a row is being edited
    void follow(); // the mirror into the tab
    void online(bool up);

    OfficeNotes *m_notes;
    RecordSource *m_personal;
    PersonalModel *m_model;
    MainWindow &m_window;
    int m_editTriggers = 0; // the grid's own, given back when the server is
    bool m_stale = false; // the server changed while a row was being edited
};

} // namespace korvana
