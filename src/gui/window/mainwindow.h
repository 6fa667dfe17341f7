#pragma once

#include "core/app/placement.h"
#include "core/store/directorykind.h"
#include "core/window/layoutpass.h"

#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace korvana {

class DataControl;
class DirectoryGrid;
class PictureBox;
class TabStrip;

// The search panel: the five criterion fields in their order (Tent, Tefio,
// Testr, Tedom, Tekv), the clear button, the tab strip and the count label.
struct SearchPanel {
    std::array<QLineEdit *, 5> fields{};
    QPushButton *clear = nullptr;  // Command1
    TabStrip *tabs = nullptr;      // TabStrip1
    QLabel *count = nullptr;       // Label7
};

// The dialing panel (Frame2) and the modem panel (Frame3).
struct DialPanel {
    QGroupBox *dialFrame = nullptr;  // Frame2
    QGroupBox *modemFrame = nullptr; // Frame3
    QPushButton *dial = nullptr;     // Command2
    QPushButton *cancel = nullptr;   // Command3
    QComboBox *commy = nullptr;      // Commy
    QLabel *status = nullptr;        // Status
    QComboBox *port = nullptr;       // cboPort
    QComboBox *exchange = nullptr;   // ATC
};

// The controls that belong to one directory.
struct DirectoryControls {
    DirectoryKind kind = DirectoryKind::Residents;
    QLabel *nameLabel = nullptr;         // Label2(i), over Tefio
    QGroupBox *gridFrame = nullptr;      // Frame4(i)
    QGroupBox *navigationFrame = nullptr; // Frame5(i)
    DataControl *data = nullptr;         // Data1..3
    DirectoryGrid *grid = nullptr;       // DBGrid1..3
    QLineEdit *number = nullptr;         // Text1, Text1_p, Text1_m: N_tel of the current record
    QLineEdit *name = nullptr;           // Text2, Text2_p, Text2_m: its name
};

// The program's one window, frmDataEnv: every control at its design place
// and size, with its texts, its initial state, tab order and stacking.
// Behaviour is wired on from outside through the typed handles below; the
// controls keep their design names as object names.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // logicalDpi 0 takes the screen's; tests pass a fixed one.
    explicit MainWindow(qreal logicalDpi = 0, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The window's resolution for converting twips; fixed at construction.
    qreal logicalDpi() const { return m_dpi; }

    const SearchPanel &searchPanel() const { return m_search; }
    const DialPanel &dialPanel() const { return m_dial; }
    const DirectoryControls &directory(DirectoryKind kind) const
    {
        return m_directories[static_cast<int>(kind) - 1];
    }
    DirectoryGrid *grid(DirectoryKind kind) const { return directory(kind).grid; }
    QTimer *timer() const { return m_timer; }

    // What the layout pass reads of the window (outer size in twips, the
    // dialing panel, the picture), and applying what it decided.
    LayoutInput layoutInput() const;
    void applyLayout(const LayoutPlan &plan);

    // The outer placement (frame and title bar included) in twips.
    Placement outerPlacement() const;
    // Moves and sizes the window so that its outer rectangle is `p`. The
    // frame is known only once a window manager has framed the shown window
    // (and is 0 without one): until the window is first activated, `p` is
    // applied again at the activation.
    void setOuterPlacement(const Placement &p);

    // The field the focus goes back to when the clear button, disabled
    // while it holds the focus, hands it on: the one whose order the list
    // keeps. Its arrival there runs no search.
    void setFocusHome(std::function<QWidget *()> home) { m_focusHome = std::move(home); }

    // Geometry of a control in twips relative to its container. Set
    // through here, the twips are kept exactly; a control moved in pixels
    // otherwise is converted back from its pixels.
    void setTwipsGeometry(QWidget *control, const QRectF &twips);
    QRectF twipsGeometry(const QWidget *control) const;

    // The whole design size of the client area in twips.
    static QSizeF designClientTwips() { return QSizeF(9945, 6585); }

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    // Each tick of Timer1, after the title has moved on by one character.
    void ticked();
    // The user (not the layout) gave a grid column a new width, in pixels.
    void columnResized(DirectoryKind grid, int column, int pixels);
    // The focus arrived in `control`: moved there from another control of
    // this window, or the first focus of all. The window getting the
    // activation back, and the focus handed on by a control that has just
    // been disabled or hidden, are no arrivals.
    void controlEntered(QWidget *control);

private:
    void build();
    void setTabOrderChain();
    void setStacking();
    void onTimerTick();
    void onFocusChanged(QWidget *old, QWidget *now);
    void returnFocusHome();
    void applyOuterPlacement(const Placement &p);

    qreal m_dpi = 96;
    SearchPanel m_search;
    DialPanel m_dial;
    std::array<DirectoryControls, 3> m_directories{};
    QGroupBox *m_frame1 = nullptr;   // the search panel's frame
    QGroupBox *m_frame6 = nullptr;   // around the count label
    PictureBox *m_picture = nullptr; // Picture2
    QLabel *m_band = nullptr;        // Image1(0)
    QTimer *m_timer = nullptr;       // Timer1
    bool m_applyingLayout = false;
    std::optional<Placement> m_placementToRedo; // until the first activation
    QPointer<QWidget> m_lastFocus; // the control of this window that last had the focus
    QMetaObject::Connection m_focusWatch;
    std::function<QWidget *()> m_focusHome;
    bool m_returningFocus = false;
};

} // namespace korvana
