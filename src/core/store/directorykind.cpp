#include "core/store/directorykind.h"

namespace korvana {

const TableInfo &tableInfo(DirectoryKind kind)
{
    static const QStringList people = {QStringLiteral("N_tel"), QStringLiteral("Family"),
                                       QStringLiteral("Street"), QStringLiteral("Dom"),
                                       QStringLiteral("Dom1"), QStringLiteral("Kvart"),
                                       QStringLiteral("Kvart1")};
    static const TableInfo residents{DirectoryKind::Residents, QStringLiteral("NASELEN"), people};
    static const TableInfo enterprises{
        DirectoryKind::Enterprises, QStringLiteral("PREDPR"),
        {QStringLiteral("Predpr"), QStringLiteral("N_tel"), QStringLiteral("Prim"),
         QStringLiteral("Street"), QStringLiteral("Dom"), QStringLiteral("Dom1"),
         QStringLiteral("Kvart"), QStringLiteral("Kvart1")}};
    static const TableInfo personal{DirectoryKind::Personal, QStringLiteral("Note"), people};
    switch (kind) {
    case DirectoryKind::Residents: return residents;
    case DirectoryKind::Enterprises: return enterprises;
    case DirectoryKind::Personal: break;
    }
    return personal;
}

DirectoryKind kindForTab(int tabIndex)
{
    if (tabIndex == 1)
        return DirectoryKind::Residents;
    if (tabIndex == 2)
        return DirectoryKind::Enterprises;
    return DirectoryKind::Personal;
}

} // namespace korvana
