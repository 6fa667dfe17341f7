#pragma once

#include "core/app/sidefiles.h"

#include <QObject>
#include <QRect>
#include <QString>

#include <array>
#include <memory>

class QSettings;

namespace korvana {

class DialerPanel;
class GridBinding;
class MainWindow;
class PersonalModel;
class RecordSource;
class SearchController;
class Store;

// The program's life: what runs when the window loads (the store, the lists,
// the side files, the placement) and unloads (widths and placement saved),
// and the wiring of every subsystem onto the window's controls.
class AppController : public QObject {
    Q_OBJECT
public:
    // `folder` holds kadu.db and the side files; `settings` is the per-user
    // store (not owned). logicalDpi 0 takes the screen's.
    AppController(const QString &folder, QSettings *settings, qreal logicalDpi = 0,
                  QObject *parent = nullptr);
    ~AppController() override;

    // Loads everything and shows the window; the first search runs when the
    // focus lands in the number field.
    void start();

    MainWindow *window() const { return m_window.get(); }
    SearchController *search() const { return m_search; }
    DialerPanel *dialer() const { return m_dialer; }
    RecordSource *source(int tab) const { return m_sources[tab - 1]; }
    PersonalModel *personalModel() const { return m_personalModel; }
    const WGridCol &widths() const { return m_widths; }
    Store *store() const { return m_store.get(); }

    // The two own numbers every user has in the dial list.
    static QStringList builtInNumbers();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openStore();
    void loadPropertySettings();
    void restorePlacement();
    void applyOuterPlacement();
    void layout();
    void columnResized(int grid, int column, int newPixels);
    void copyToPersonal(int tab);
    void shutDown();
    float outerWidthTwips() const;
    float outerHeightTwips() const;

    QString m_folder;
    QSettings *m_settings;
    std::unique_ptr<Store> m_store;
    std::unique_ptr<MainWindow> m_window;
    std::array<RecordSource *, 3> m_sources{};
    SearchController *m_search = nullptr;
    DialerPanel *m_dialer = nullptr;
    PersonalModel *m_personalModel = nullptr;
    WGridCol m_widths;
    QRect m_outerPlacement;
    bool m_applyingWidths = false;
    bool m_shutDown = false;
};

} // namespace korvana
