#pragma once

#include "core/store/directorykind.h"

#include <array>

class QObject;

namespace korvana {

class DirectoryModel;
class GridBinding;
class MainWindow;
class PersonalModel;
class RecordSource;
class SearchImages;
class Store;
struct DirectoryControls;

// One directory as the window shows it: its record source, the grid's
// model and binding, and its controls.
struct DirectoryView {
    DirectoryKind kind = DirectoryKind::Residents;
    RecordSource *source = nullptr;
    DirectoryModel *model = nullptr;
    GridBinding *binding = nullptr;
    const DirectoryControls *controls = nullptr;
};

// The three directories in the order of their tabs.
class Directories {
public:
    // Opens a record source on each table of `store` (a null store gives
    // empty directories), answering from `images` where they serve, and
    // binds it to its grid and navigation bar; the personal grid gets the
    // editing model. Everything is owned by `owner`.
    Directories(MainWindow &window, Store *store, SearchImages *images, QObject *owner);

    DirectoryView &operator[](DirectoryKind kind) { return m_views[index(kind)]; }
    const DirectoryView &operator[](DirectoryKind kind) const { return m_views[index(kind)]; }
    PersonalModel *personalModel() const { return m_personal; }

    auto begin() { return m_views.begin(); }
    auto end() { return m_views.end(); }
    auto begin() const { return m_views.begin(); }
    auto end() const { return m_views.end(); }

private:
    static int index(DirectoryKind kind) { return static_cast<int>(kind) - 1; }

    std::array<DirectoryView, 3> m_views{};
    PersonalModel *m_personal = nullptr;
};

} // namespace korvana
