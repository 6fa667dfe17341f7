#pragma once

#include <QString>
#include <QStringList>

namespace korvana {

// The three directories, numbered as the tabs that show them.
enum class DirectoryKind { Residents = 1, Enterprises = 2, Personal = 3 };

// The fields of one directory table, in the order of the stored table.
struct TableInfo {
    DirectoryKind kind;
    QString table;        // NASELEN, PREDPR, Note
    QStringList fields;   // as the table declares them
};

const TableInfo &tableInfo(DirectoryKind kind);

// Tab index (1..3) to kind; anything but 1 and 2 is the personal directory.
DirectoryKind kindForTab(int tabIndex);

} // namespace korvana
