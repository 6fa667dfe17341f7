#pragma once

#include "core/store/store.h"

class QWidget;

namespace korvana {

// Store::open with a modal progress dialog for the one slow case: a
// directory file made by hand or by an older program, whose search columns
// and indexes are added at its first open (seconds on a large town). The
// dialog shows only once that has taken longer than `quietMs`.
std::unique_ptr<Store> openStoreWithProgress(QWidget *parent, const QString &path,
                                             Store::OpenStatus *status, QString *error,
                                             int quietMs = 500);

} // namespace korvana
