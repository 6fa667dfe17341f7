#pragma once

#include "core/store/directorykind.h"

#include <QRectF>
#include <QWidget>

class QGroupBox;
class QLabel;
class QTabBar;
class QTimer;

namespace korvana {

class DataControl;
class DirectoryGrid;

// The program's one window, frmDataEnv: every control at its design place
// and size, with its texts, its initial state, tab order and stacking.
// Behaviour is wired on from outside: find a control by its name with
// control<T>() (or findChild), e.g. control<QLineEdit>("Tent"),
// control<QLabel>("Label2(1)"), control<QGroupBox>("Frame4(0)").
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // logicalDpi 0 takes the screen's; tests pass a fixed one.
    explicit MainWindow(qreal logicalDpi = 0, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The window's resolution for converting twips; fixed at construction.
    qreal logicalDpi() const { return m_dpi; }

    template <typename T>
    T *control(const QString &name) const
    {
        return findChild<T *>(name);
    }

    DirectoryGrid *grid(DirectoryKind kind) const;
    DataControl *dataControl(DirectoryKind kind) const;
    QGroupBox *gridFrame(DirectoryKind kind) const;       // Frame4(i)
    QGroupBox *navigationFrame(DirectoryKind kind) const; // Frame5(i)
    QLabel *nameLabel(DirectoryKind kind) const;          // Label2(i)
    QTabBar *tabStrip() const;
    QTimer *timer() const;

    // Cell text size of one directory grid in points; its headings keep
    // their size.
    void setGridCellPointSize(DirectoryKind kind, qreal points);

    // Geometry of a control in twips relative to its container. Set
    // through here, the twips are kept exactly; a control moved in pixels
    // otherwise is converted back from its pixels.
    void setTwipsGeometry(QWidget *control, const QRectF &twips);
    QRectF twipsGeometry(const QWidget *control) const;

    // The whole design size of the client area in twips.
    static QSizeF designClientTwips() { return QSizeF(9945, 6585); }

Q_SIGNALS:
    // Each tick of Timer1, after the title has moved on by one character.
    void ticked();

private:
    void build();
    void setTabOrderChain();
    void setStacking();
    void onTimerTick();

    qreal m_dpi = 96;
};

} // namespace korvana
