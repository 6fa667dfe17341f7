#pragma once

#include <QObject>

class QAction;
class QPoint;
class QWidget;

namespace korvana {

struct DirectoryView;

// The context menu of a directory grid and its keys: copy the current
// entry's number (Ctrl+C) or its whole row, call it, show it as a QR code.
// A right click first makes the row under the pointer current, so every
// action works on the row the menu was opened on.
class GridMenu : public QObject {
    Q_OBJECT
public:
    // «Позвонить» is offered while `dialFrame` is not hidden (no modem
    // panel, no calls).
    GridMenu(const DirectoryView &view, const QWidget *dialFrame, QObject *parent = nullptr);

    // What the copy actions put on the clipboard.
    QString numberText() const;
    // The visible cells of the current row joined by tabs, as spreadsheets
    // paste them; a tab or line break inside a cell becomes a blank.
    QString rowText() const;

    QAction *copyNumberAction() const { return m_copyNumber; }
    QAction *copyRowAction() const { return m_copyRow; }
    QAction *dialAction() const { return m_dial; }
    QAction *qrCodeAction() const { return m_qrCode; }

signals:
    void dialRequested();
    void qrCodeRequested();

private:
    void popUp(const QPoint &pos);

    const DirectoryView &m_view;
    const QWidget *m_dialFrame;
    QAction *m_copyNumber;
    QAction *m_copyRow;
    QAction *m_dial;
    QAction *m_qrCode;
};

} // namespace korvana
