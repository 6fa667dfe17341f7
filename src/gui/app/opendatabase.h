#pragma once

#include <QString>

#include <memory>

namespace korvana {

class Store;

// Opens the directory file kadu.db of `folder` for the window. When it is
// missing and the town's Access file kadu.mdb is there, the Access file is
// imported first (with its progress dialog). A file that cannot be opened
// brings one message naming it and the folder, and gives a null store: the
// directories are then empty.
std::unique_ptr<Store> openDirectoryFile(const QString &folder);

} // namespace korvana
