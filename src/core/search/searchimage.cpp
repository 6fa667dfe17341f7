#include "core/search/searchimage.h"

#include "core/search/globmatch.h"
#include "core/search/searchquery.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>

namespace korvana {

namespace {

constexpr qint64 kChunkRows = 65536;
// Codes of a dictionary column are 16 bits wide; code 0 is NULL.
constexpr size_t kMaxDictionary = 65535;

// A byte buffer grown with realloc: glibc moves a large block by remapping
// its pages, so a column of tens of megabytes is never held twice.
class Bytes {
public:
    Bytes() = default;
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;
    ~Bytes() { std::free(m_data); }

    bool append(const char *p, size_t n)
    {
        if (m_size + n > m_capacity) {
            const size_t want = std::max(m_size + n, m_capacity + m_capacity / 2 + 4096);
            char *grown = static_cast<char *>(std::realloc(m_data, want));
            if (!grown)
                return false;
            m_data = grown;
            m_capacity = want;
        }
        std::memcpy(m_data + m_size, p, n);
        m_size += n;
        return true;
    }
    void shrink()
    {
        if (char *fitted = static_cast<char *>(std::realloc(m_data, std::max<size_t>(m_size, 1)))) {
            m_data = fitted;
            m_capacity = std::max<size_t>(m_size, 1);
        }
    }
    const char *data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }

private:
    char *m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

bool testBit(const std::vector<uint64_t> &bits, size_t row) { return (bits[row >> 6] >> (row & 63)) & 1; }

template<typename T>
size_t vectorBytes(const std::vector<T> &v)
{
    return v.capacity() * sizeof(T);
}

} // namespace

struct SearchImage::Column {
    QString name;
    bool packed = false;
    // Dictionary form: the distinct values, and per row 1 + the index of
    // its value (0 for NULL).
    std::vector<std::string> values;
    std::vector<uint16_t> codes;
    // Packed form: each value followed by a NUL, where each row starts, and
    // the rows that are NULL (stored as empty).
    Bytes bytes;
    std::vector<uint32_t> offsets;
    std::vector<uint64_t> nulls;

    std::string_view value(size_t row) const
    {
        return {bytes.data() + offsets[row], size_t(offsets[row + 1] - offsets[row] - 1)};
    }
    bool isNull(size_t row) const { return packed ? testBit(nulls, row) : codes[row] == 0; }
    size_t memory() const
    {
        size_t n = vectorBytes(codes) + vectorBytes(offsets) + vectorBytes(nulls) + bytes.capacity();
        for (const std::string &v : values)
            n += sizeof(std::string) + (v.capacity() > 15 ? v.capacity() : 0);
        return n;
    }
};

namespace {

using Column = SearchImage::Column;

// Fills one column row by row: as a dictionary while it has few distinct
// values, packed from the moment it has too many, or at the end when most
// values are distinct.
class ColumnBuilder {
public:
    explicit ColumnBuilder(Column &c) : m_c(c) {}

    bool add(const char *text, size_t n, bool null)
    {
        if (m_c.packed)
            return addPacked(text, n, null);
        uint16_t code = 0;
        if (!null) {
            const std::string_view v(text, n);
            auto it = m_codeOf.find(v);
            if (it == m_codeOf.end()) {
                if (m_c.values.size() >= kMaxDictionary)
                    return toPacked() && addPacked(text, n, null);
                m_c.values.emplace_back(v);
                it = m_codeOf.emplace(std::string(v), uint16_t(m_c.values.size())).first;
            }
            code = it->second;
        }
        m_c.codes.push_back(code);
        return true;
    }

    bool finish()
    {
        m_codeOf.clear();
        // A dictionary pays only when values repeat.
        if (!m_c.packed && m_c.values.size() > m_c.codes.size() / 8 && !toPacked())
            return false;
        if (!m_c.packed) {
            m_c.codes.shrink_to_fit();
            return true;
        }
        if (m_c.bytes.size() > UINT32_MAX)
            return false;
        m_c.offsets.push_back(uint32_t(m_c.bytes.size()));
        m_c.offsets.shrink_to_fit();
        m_c.nulls.shrink_to_fit();
        m_c.bytes.shrink();
        return true;
    }

private:
    bool addPacked(const char *text, size_t n, bool null)
    {
        const size_t row = m_c.offsets.size();
        if (m_c.bytes.size() > UINT32_MAX)
            return false;
        m_c.offsets.push_back(uint32_t(m_c.bytes.size()));
        if (row / 64 >= m_c.nulls.size())
            m_c.nulls.push_back(0);
        if (null)
            m_c.nulls[row / 64] |= uint64_t(1) << (row % 64);
        static const char end = '\0';
        return (null || m_c.bytes.append(text, n)) && m_c.bytes.append(&end, 1);
    }

    bool toPacked()
    {
        m_c.packed = true;
        const std::vector<uint16_t> codes = std::move(m_c.codes);
        const std::vector<std::string> values = std::move(m_c.values);
        m_c.codes = {};
        m_c.values = {};
        m_codeOf.clear();
        for (uint16_t code : codes) {
            const std::string *v = code ? &values[code - 1] : nullptr;
            if (!addPacked(v ? v->data() : nullptr, v ? v->size() : 0, !v))
                return false;
        }
        return true;
    }

    Column &m_c;
    std::unordered_map<std::string, uint16_t, StringHash, std::equal_to<>> m_codeOf;
};

} // namespace

SearchImage::~SearchImage() = default;

std::unique_ptr<SearchImage> SearchImage::build(sqlite3 *db, DirectoryKind kind,
                                                const std::atomic<bool> &cancel, QString *error)
{
    const auto started = std::chrono::steady_clock::now();
    auto fail = [&](const QString &why) -> std::unique_ptr<SearchImage> {
        if (error)
            *error = why;
        return nullptr;
    };
    const QString table = tableInfo(kind).table;
    std::unique_ptr<SearchImage> image(new SearchImage);
    image->m_kind = kind;
    const QStringList names = criterionColumns(kind);
    std::vector<ColumnBuilder> builders;
    image->m_columns.reserve(names.size());
    for (const QString &name : names) {
        image->m_columns.push_back(std::make_unique<Column>());
        image->m_columns.back()->name = name;
    }
    for (auto &c : image->m_columns)
        builders.emplace_back(*c);

    // The values, in rowid order, a chunk at a time.
    const QByteArray valuesSql = QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid > ?1 ORDER BY rowid LIMIT %3")
                                     .arg(names.join(QStringLiteral(", ")), table)
                                     .arg(kChunkRows)
                                     .toUtf8();
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, valuesSql.constData(), -1, &s, nullptr) != SQLITE_OK)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    std::vector<qint64> rowIds;
    qint64 after = std::numeric_limits<qint64>::min();
    bool wellFormed = true;
    bool stored = true;
    for (;;) {
        sqlite3_bind_int64(s, 1, after);
        qint64 read = 0;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            after = sqlite3_column_int64(s, 0);
            rowIds.push_back(after);
            for (int c = 0; c < int(builders.size()); ++c) {
                const bool null = sqlite3_column_type(s, c + 1) == SQLITE_NULL;
                const char *text = null ? nullptr : reinterpret_cast<const char *>(sqlite3_column_text(s, c + 1));
                // GLOB reads text up to its first NUL.
                const size_t n = text ? strnlen(text, size_t(sqlite3_column_bytes(s, c + 1))) : 0;
                wellFormed = wellFormed && isWellFormedUtf8({text, n});
                stored = stored && builders[c].add(text, n, null);
            }
            ++read;
        }
        sqlite3_reset(s);
        if (rc != SQLITE_DONE || !wellFormed || !stored || cancel) {
            sqlite3_finalize(s);
            return fail(cancel        ? QStringLiteral("cancelled")
                        : !wellFormed ? QStringLiteral("a value is not well-formed UTF-8")
                        : !stored     ? QStringLiteral("out of memory")
                                      : QString::fromUtf8(sqlite3_errmsg(db)));
        }
        if (read < kChunkRows)
            break;
    }
    sqlite3_finalize(s);
    for (ColumnBuilder &b : builders) {
        if (!b.finish())
            return fail(QStringLiteral("a column is too large"));
    }
    image->m_rows = qint64(rowIds.size());
    if (image->m_rows > qint64(UINT32_MAX))
        return fail(QStringLiteral("too many rows"));
    image->m_firstRowId = rowIds.empty() ? 1 : rowIds.front();
    const bool dense = rowIds.empty() || rowIds.back() - rowIds.front() == qint64(rowIds.size()) - 1;
    if (!dense)
        image->m_rowIds = std::move(rowIds);
    rowIds = {};

    // Each order as SQLite sorts it, read along its index.
    for (const QStringList &order : searchOrders(kind)) {
        const QByteArray sql = QStringLiteral("SELECT rowid FROM %1 ORDER BY %2")
                                   .arg(table, order.join(QStringLiteral(", ")))
                                   .toUtf8();
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &s, nullptr) != SQLITE_OK)
            return fail(QString::fromUtf8(sqlite3_errmsg(db)));
        std::vector<uint32_t> rows;
        rows.reserve(size_t(image->m_rows));
        int rc;
        bool known = true;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW && known && qint64(rows.size()) < image->m_rows) {
            const qint64 id = sqlite3_column_int64(s, 0);
            qint64 row;
            if (dense) {
                row = id - image->m_firstRowId;
            } else {
                const auto it = std::lower_bound(image->m_rowIds.begin(), image->m_rowIds.end(), id);
                row = it != image->m_rowIds.end() && *it == id ? it - image->m_rowIds.begin() : -1;
            }
            known = row >= 0 && row < image->m_rows;
            rows.push_back(uint32_t(row));
            if ((rows.size() & 0xffff) == 0 && cancel)
                break;
        }
        sqlite3_finalize(s);
        // A row added or removed between the statements: the caller notices
        // the write and builds again.
        if (rc != SQLITE_DONE || !known || qint64(rows.size()) != image->m_rows || cancel)
            return fail(cancel ? QStringLiteral("cancelled") : QStringLiteral("the table changed"));
        image->m_orderNames << order;
        image->m_orders.push_back(std::move(rows));
    }
    image->m_buildMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    return image;
}

size_t SearchImage::memoryBytes() const
{
    size_t n = sizeof(*this) + vectorBytes(m_rowIds);
    for (const auto &c : m_columns)
        n += sizeof(Column) + c->memory();
    for (const auto &o : m_orders)
        n += vectorBytes(o);
    return n;
}

const SearchImage::Column *SearchImage::column(const QString &name) const
{
    for (const auto &c : m_columns)
        if (c->name == name)
            return c.get();
    return nullptr;
}

bool SearchImage::answers(const QStringList &columns, const QStringList &orderColumns) const
{
    return m_orderNames.contains(orderColumns)
        && std::all_of(columns.cbegin(), columns.cend(), [this](const QString &c) { return column(c); });
}

namespace {

struct Test {
    const Column *column;
    GlobPattern pattern;
    std::vector<uint8_t> valueMatches; // dictionary columns: per code
};

void prepare(Test &t)
{
    if (t.column->packed)
        return;
    t.valueMatches.assign(t.column->values.size() + 1, 0);
    for (size_t i = 0; i < t.column->values.size(); ++i)
        t.valueMatches[i + 1] = t.pattern.matches(t.column->values[i]);
}

void setBit(std::vector<uint64_t> &bits, size_t row) { bits[row >> 6] |= uint64_t(1) << (row & 63); }

// Every row of the column tested: the bitmap of those that match.
void fill(const Test &t, size_t rows, std::vector<uint64_t> &bits)
{
    std::fill(bits.begin(), bits.end(), 0);
    const Column &c = *t.column;
    if (!c.packed) {
        for (size_t base = 0; base < rows; base += 64) {
            uint64_t word = 0;
            const size_t n = std::min<size_t>(64, rows - base);
            for (size_t b = 0; b < n; ++b)
                word |= uint64_t(t.valueMatches[c.codes[base + b]]) << b;
            bits[base >> 6] = word;
        }
        return;
    }
    const std::string_view prefix = t.pattern.prefix();
    const std::string_view needle = t.pattern.needle();
    if (!prefix.empty() || needle.empty()) {
        // Anchored at the start, or no literal at all: each value in turn.
        for (size_t r = 0; r < rows; ++r) {
            const std::string_view v = c.value(r);
            if (v.substr(0, prefix.size()) == prefix && t.pattern.matches(v))
                setBit(bits, r);
        }
    } else {
        // The literal run searched for over the whole column at once; the
        // NUL after each value keeps a run from spanning two of them.
        const char *base = c.bytes.data();
        const char *end = base + c.offsets[rows];
        const char *from = base;
        auto row = c.offsets.begin();
        while (from < end) {
            const void *hit = memmem(from, size_t(end - from), needle.data(), needle.size());
            if (!hit)
                break;
            const uint32_t at = uint32_t(static_cast<const char *>(hit) - base);
            row = std::upper_bound(row, c.offsets.end(), at) - 1;
            const size_t r = size_t(row - c.offsets.begin());
            if (t.pattern.matches(c.value(r)))
                setBit(bits, r);
            from = base + c.offsets[r + 1];
        }
    }
    for (size_t w = 0; w < bits.size(); ++w)
        bits[w] &= ~c.nulls[w];
}

// Only the rows still set are tested: cheaper when few are left.
void refine(const Test &t, std::vector<uint64_t> &bits)
{
    const Column &c = *t.column;
    for (size_t w = 0; w < bits.size(); ++w) {
        uint64_t word = bits[w];
        while (word) {
            const size_t r = w * 64 + size_t(std::countr_zero(word));
            word &= word - 1;
            const bool keep = c.packed ? !testBit(c.nulls, r) && t.pattern.matches(c.value(r))
                                       : t.valueMatches[c.codes[r]];
            if (!keep)
                bits[w] &= ~(uint64_t(1) << (r & 63));
        }
    }
}

qint64 popcount(const std::vector<uint64_t> &bits)
{
    qint64 n = 0;
    for (uint64_t w : bits)
        n += std::popcount(w);
    return n;
}

} // namespace

std::unique_ptr<ImageResult> SearchImage::search(const std::shared_ptr<const SearchImage> &image,
                                                 const QList<QPair<QString, QString>> &criteria,
                                                 const QStringList &orderColumns)
{
    const qsizetype order = image->m_orderNames.indexOf(orderColumns);
    if (order < 0)
        return nullptr;
    std::vector<Test> tests;
    for (const auto &[name, pattern] : criteria) {
        const Column *c = image->column(name);
        std::optional<GlobPattern> p = GlobPattern::parse(pattern.toStdString());
        if (!c || !p)
            return nullptr;
        tests.push_back({c, std::move(*p), {}});
        prepare(tests.back());
    }
    // Dictionary columns cost a code per row; of the packed ones, a longer
    // literal leaves fewer rows for the others.
    std::stable_sort(tests.begin(), tests.end(), [](const Test &a, const Test &b) {
        if (a.column->packed != b.column->packed)
            return !a.column->packed;
        return std::max(a.pattern.prefix().size(), a.pattern.needle().size())
            > std::max(b.pattern.prefix().size(), b.pattern.needle().size());
    });
    const size_t rows = size_t(image->m_rows);
    std::vector<uint64_t> bits((rows + 63) / 64, ~uint64_t(0));
    if (rows % 64)
        bits.back() = (uint64_t(1) << (rows % 64)) - 1;
    std::vector<uint64_t> more;
    for (size_t i = 0; i < tests.size(); ++i) {
        if (i == 0) {
            fill(tests[i], rows, bits);
        } else if (popcount(bits) * 16 < qint64(rows)) {
            refine(tests[i], bits);
        } else {
            more.resize(bits.size());
            fill(tests[i], rows, more);
            for (size_t w = 0; w < bits.size(); ++w)
                bits[w] &= more[w];
        }
    }
    return std::make_unique<ImageResult>(image, std::move(bits), &image->m_orders[size_t(order)]);
}

std::string SearchImage::dumpColumn(const QString &name) const
{
    std::string out;
    const Column *c = column(name);
    if (!c)
        return out;
    for (size_t r = 0; r < size_t(m_rows); ++r) {
        if (c->packed)
            out += c->value(r);
        else if (c->codes[r])
            out += c->values[c->codes[r] - 1];
        out += '\n';
    }
    return out;
}

ImageResult::ImageResult(std::shared_ptr<const SearchImage> image, std::vector<uint64_t> bits,
                         const std::vector<uint32_t> *order)
    : m_image(std::move(image)), m_bits(std::move(bits)), m_order(order), m_count(popcount(m_bits))
{
}

qint64 ImageResult::rowIdAt(qint64 position)
{
    if (position < 0 || position >= m_count)
        return -1;
    while (qint64(m_positions.size()) <= position && m_walked < m_order->size()) {
        const uint32_t r = (*m_order)[m_walked++];
        if (testBit(m_bits, r))
            m_positions.push_back(r);
    }
    return qint64(m_positions.size()) > position ? m_image->rowId(m_positions[size_t(position)]) : -1;
}

} // namespace korvana
