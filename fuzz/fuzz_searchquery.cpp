// The five search fields with any text, run on a small directory file.
// Input: bytes of tab, sort field, shown tab and flags, then the fields
// split by 0xFF (never in UTF-8); flag 1 reads them as UTF-16, lone
// surrogates included.
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "core/store/store.h"
#include "core/store/textfold.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace korvana;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    // The folder outlives the store: statics are destroyed in reverse order.
    static QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("korvana-fuzz-search-XXXXXX")));
    static const std::unique_ptr<Store> store = [] {
        auto s = Store::create(dir.filePath(QStringLiteral("kadu.db")));
        if (!s)
            std::abort();
        s->exec(QStringLiteral("PRAGMA synchronous=OFF"));
        s->exec(QStringLiteral("PRAGMA journal_mode=MEMORY"));
        s->insertRow(DirectoryKind::Residents, {"23456", "Иванов И.И.", "Ленина", "12", "а", "5", QVariant()});
        s->insertRow(DirectoryKind::Residents, {"21000", "ёлкин", "Садовая", " 7", "", "12", ""});
        s->insertRow(DirectoryKind::Enterprises, {"Аптека [№1]", "24680", "ул. 100%", "3", "", "", "", "_"});
        s->insertRow(DirectoryKind::Personal, {"20911", "Справка", "", "", "", "", ""});
        s->createIndexes();
        return s;
    }();
    const bool utf16 = data[3] & 1, storeName = data[3] & 2;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 4), qsizetype(size - 4)).split('\xff');
    QString f[5];
    for (int i = 0; i < 5 && i < parts.size(); ++i)
        f[i] = utf16 ? QString(reinterpret_cast<const QChar *>(parts[i].constData()), parts[i].size() / 2)
                     : QString::fromUtf8(parts[i]);
    const SearchQuery q = buildSearchQuery({f[0], f[1], f[2], f[3], f[4]}, kindForTab(1 + data[0] % 3),
                                           SortField(1 + data[1] % 5), kindForTab(1 + data[2] % 3));
    RecordSource source(q.kind);
    source.setStore(store.get());
    source.setQuery(q);
    using O = RecordSource::Outcome;
    if (source.refresh() != (q.malformed ? O::Malformed : q.invalid ? O::Failed : O::Ok))
        std::abort();
    for (int r = 0; r < source.recordCount(); ++r)
        (void)source.value(r, 0);

    // A name stored exactly as typed is found by it. U+0000, which cannot
    // be typed, is left out: after a "[" it is not found (seed nul-after-bracket).
    const QString name = trimBlanks(f[1]);
    if (storeName && !name.isEmpty() && !name.contains(u'\'') && !name.contains(QChar(0))) {
        QVariantList row(tableInfo(q.kind).fields.size(), QString());
        row[q.kind == DirectoryKind::Enterprises ? 0 : 1] = name;
        qint64 rowid = 0;
        if (!store->insertRow(q.kind, row, &rowid))
            std::abort();
        source.setQuery(buildSearchQuery({QString(), f[1], QString(), QString(), QString()}, q.kind,
                                         SortField::Name, q.kind));
        const bool found = source.refresh() == O::Ok && source.recordCount() >= 1;
        store->deleteRow(q.kind, rowid);
        if (!found)
            std::abort();
    }
    return 0;
}
