#include "core/search/searchimage.h"

#include "core/search/globmatch.h"
#include "core/search/searchquery.h"
#include "core/store/textfold.h"

#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

namespace korvana {

namespace {

constexpr qint64 kChunkRows = 65536;
// Codes of a dictionary column are 16 bits wide; code 0 is NULL.
constexpr size_t kMaxDictionary = 65535;

constexpr size_t kHugePage = size_t(2) << 20;

size_t roundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// The bytes of a packed column. Address space for the largest column there
// can be (offsets are 32 bits) is reserved at once and filled as values
// come, so the buffer never moves; without such a reservation it grows
// with realloc.
class Bytes {
public:
    Bytes() = default;
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;
    ~Bytes()
    {
        if (m_mapped)
            munmap(m_data, m_capacity);
        else
            std::free(m_data);
    }

    bool append(const char *p, size_t n)
    {
        if (m_size + n > m_capacity && !grow(m_size + n))
            return false;
        std::memcpy(m_data + m_size, p, n);
        m_size += n;
        return true;
    }
    void shrink()
    {
        if (m_mapped) {
            const size_t keep = roundUp(std::max<size_t>(m_size, 1),
                                        m_size > kHugePage ? kHugePage : size_t(sysconf(_SC_PAGESIZE)));
            if (keep < m_capacity)
                munmap(m_data + keep, m_capacity - keep);
            m_capacity = std::min(m_capacity, keep);
        } else if (char *fitted = static_cast<char *>(std::realloc(m_data, std::max<size_t>(m_size, 1)))) {
            m_data = fitted;
            m_capacity = std::max<size_t>(m_size, 1);
        }
    }
    const char *data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }

private:
    bool grow(size_t need)
    {
        if (!m_data) {
            constexpr size_t reserve = size_t(UINT32_MAX) + 1;
            void *p = mmap(nullptr, reserve, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            if (p != MAP_FAILED) {
                // Huge pages past the first one: a small column keeps small pages.
                madvise(static_cast<char *>(p) + kHugePage, reserve - kHugePage, MADV_HUGEPAGE);
                m_data = static_cast<char *>(p);
                m_capacity = reserve;
                m_mapped = true;
                return need <= m_capacity;
            }
        }
        if (m_mapped)
            return false;
        const size_t want = std::max(need, m_capacity + m_capacity / 2 + 4096);
        char *grown = static_cast<char *>(std::realloc(m_data, want));
        if (!grown)
            return false;
        m_data = grown;
        m_capacity = want;
        return true;
    }

    char *m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
    bool m_mapped = false;
};

// A quick hash of a short text, eight bytes at a time.
uint64_t hashOf(std::string_view text)
{
    const char *p = text.data();
    size_t n = text.size();
    uint64_t h = 0x9e3779b97f4a7c15ull ^ n;
    uint64_t word;
    for (; n >= 8; p += 8, n -= 8) {
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    word = 0;
    std::memcpy(&word, p, n);
    h = (h ^ word) * 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 29);
}

// Finds a literal all through a long text, sixteen bytes at a step: only
// the places where two of its bytes stand as in the literal are compared in
// full. Each place found is handed to `onHit`, which says where to go on.
class LiteralScan {
public:
    explicit LiteralScan(std::string_view literal) : m_literal(literal)
    {
        const size_t n = literal.size();
        m_last = n - 1;
        // The lead byte of a Cyrillic letter is shared by half the
        // alphabet; its second byte tells more.
        if (n >= 3 && static_cast<unsigned char>(literal[0]) >= 0xc0)
            m_first = 1;
        m_exact = n <= 2; // the two bytes tested are the whole literal
    }

    template<typename OnHit> // const char *onHit(const char *at): where to go on
    void run(const char *p, const char *end, OnHit onHit) const
    {
        const size_t n = m_literal.size();
#ifdef __SSE2__
        const __m128i first = _mm_set1_epi8(m_literal[m_first]);
        const __m128i last = _mm_set1_epi8(m_literal[m_last]);
        while (end - p >= ptrdiff_t(16 + m_last)) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + m_first));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + m_last));
            unsigned mask = unsigned(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
            const char *next = p + 16;
            while (mask) {
                const char *at = p + __builtin_ctz(mask);
                mask &= mask - 1;
                if (!m_exact && std::memcmp(at, m_literal.data(), n) != 0)
                    continue;
                const char *resume = onHit(at);
                if (resume >= next) {
                    next = resume;
                    break;
                }
                mask &= ~0u << (resume - p); // places before `resume` are done
            }
            p = next;
        }
#endif
        while (end - p >= ptrdiff_t(n)) {
            const void *hit = memmem(p, size_t(end - p), m_literal.data(), n);
            if (!hit)
                return;
            p = onHit(static_cast<const char *>(hit));
        }
    }

private:
    std::string m_literal;
    size_t m_first = 0; // the two bytes tested first
    size_t m_last = 0;
    bool m_exact = false;
};

template<typename Bits>
bool testBit(const Bits &bits, size_t row)
{
    return (bits[row >> 6] >> (row & 63)) & 1;
}

template<typename Vector>
size_t vectorBytes(const Vector &v)
{
    return v.capacity() * sizeof(typename Vector::value_type);
}

} // namespace

struct SearchImage::Column {
    QString name;
    bool packed = false;
    // Dictionary form: the distinct values, and per row 1 + the index of
    // its value (0 for NULL).
    std::vector<std::string> values;
    ImageArray<uint16_t> codes;
    std::vector<uint32_t> rowsOf; // per code, how many rows hold it
    // Packed form: each value followed by a NUL, where each row starts, and
    // the rows that are NULL (stored as empty).
    Bytes bytes;
    ImageArray<uint32_t> offsets;
    ImageArray<uint64_t> nulls;

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
            code = codeOf({text, n});
            if (!code)
                return toPacked() && addPacked(text, n, null);
        }
        m_c.codes.push_back(code);
        return true;
    }

    void reserve(size_t rows)
    {
        m_c.codes.reserve(rows);
        m_rows = rows;
    }

    bool finish()
    {
        m_slots = {};
        // A dictionary pays only when values repeat.
        if (!m_c.packed && m_c.values.size() > m_c.codes.size() / 8 && !toPacked())
            return false;
        if (!m_c.packed) {
            m_c.codes.shrink_to_fit();
            m_c.rowsOf.assign(m_c.values.size() + 1, 0);
            for (uint16_t code : m_c.codes)
                ++m_c.rowsOf[code];
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
    // The code of a value, added when new; 0 when the dictionary is full.
    // Open addressing over a power of two, kept at most half full.
    uint16_t codeOf(std::string_view v)
    {
        if (m_slots.empty())
            m_slots.assign(1024, 0);
        size_t mask = m_slots.size() - 1;
        size_t i = hashOf(v) & mask;
        while (const uint16_t code = m_slots[i]) {
            if (m_c.values[code - 1] == v)
                return code;
            i = (i + 1) & mask;
        }
        if (m_c.values.size() >= kMaxDictionary)
            return 0;
        m_c.values.emplace_back(v);
        const auto code = uint16_t(m_c.values.size());
        m_slots[i] = code;
        if (m_c.values.size() * 2 > m_slots.size()) {
            std::vector<uint16_t> grown(m_slots.size() * 2, 0);
            mask = grown.size() - 1;
            for (size_t c = 1; c <= m_c.values.size(); ++c) {
                size_t j = hashOf(m_c.values[c - 1]) & mask;
                while (grown[j])
                    j = (j + 1) & mask;
                grown[j] = uint16_t(c);
            }
            m_slots = std::move(grown);
        }
        return code;
    }

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
        const ImageArray<uint16_t> codes = std::move(m_c.codes);
        const std::vector<std::string> values = std::move(m_c.values);
        m_c.codes = {};
        m_c.values = {};
        m_slots = {};
        m_c.offsets.reserve(std::max(m_rows, codes.size()) + 1);
        m_c.nulls.reserve(std::max(m_rows, codes.size()) / 64 + 1);
        for (uint16_t code : codes) {
            const std::string *v = code ? &values[code - 1] : nullptr;
            if (!addPacked(v ? v->data() : nullptr, v ? v->size() : 0, !v))
                return false;
        }
        return true;
    }

    Column &m_c;
    std::vector<uint16_t> m_slots; // codes by hash while a dictionary
    size_t m_rows = 0;             // rows expected
};

} // namespace

namespace imagememory {

namespace {
std::atomic<size_t> g_failAbove{0};
}

void failAllocationsAbove(size_t bytes) { g_failAbove = bytes; }

void *allocate(size_t bytes)
{
    if (const size_t limit = g_failAbove; limit && bytes > limit)
        throw std::bad_alloc();
    if (bytes < kHugePage) {
        if (void *p = std::malloc(std::max<size_t>(bytes, 1)))
            return p;
        throw std::bad_alloc();
    }
    // Aligned to a huge page, so that all of it can be one.
    const size_t mapped = bytes + kHugePage;
    void *p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    char *start = static_cast<char *>(p);
    char *aligned = reinterpret_cast<char *>(roundUp(reinterpret_cast<uintptr_t>(start), kHugePage));
    const size_t pages = roundUp(bytes, size_t(sysconf(_SC_PAGESIZE)));
    if (aligned > start)
        munmap(start, size_t(aligned - start));
    if (start + mapped > aligned + pages)
        munmap(aligned + pages, size_t(start + mapped - (aligned + pages)));
    madvise(aligned, pages, MADV_HUGEPAGE);
    return aligned;
}

void release(void *p, size_t bytes)
{
    if (bytes < kHugePage)
        std::free(p);
    else
        munmap(p, bytes);
}

} // namespace imagememory

SearchImage::~SearchImage() = default;

namespace {

struct Finalizer {
    void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, Finalizer>;

StatementPtr prepare(sqlite3 *db, const QByteArray &sql)
{
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return nullptr;
    }
    return StatementPtr(s);
}

} // namespace

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

    // Room for the rows there probably are (rowids are mostly dense), so
    // that nothing is copied while the columns grow.
    ImageArray<qint64> rowIds;
    {
        const QByteArray sql = QStringLiteral("SELECT max(rowid) - min(rowid) + 1 FROM %1").arg(table).toUtf8();
        StatementPtr q = prepare(db, sql);
        if (q && sqlite3_step(q.get()) == SQLITE_ROW) {
            const size_t expected = size_t(std::clamp<qint64>(sqlite3_column_int64(q.get(), 0), 0, 1 << 26));
            q.reset(); // the read ends before anything can throw
            rowIds.reserve(expected);
            for (ColumnBuilder &b : builders)
                b.reserve(expected);
        }
    }

    // The values, in rowid order, a chunk at a time.
    const QByteArray valuesSql = QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid > ?1 ORDER BY rowid LIMIT %3")
                                     .arg(names.join(QStringLiteral(", ")), table)
                                     .arg(kChunkRows)
                                     .toUtf8();
    StatementPtr values = prepare(db, valuesSql);
    if (!values)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    // A statement stepped and left so holds the file's read lock, and every
    // writer waits on it: each is finalised on every road out, a throw too.
    sqlite3_stmt *s = values.get();
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
            return fail(cancel        ? QStringLiteral("cancelled")
                        : !wellFormed ? QStringLiteral("a value is not well-formed UTF-8")
                        : !stored     ? QStringLiteral("out of memory")
                                      : QString::fromUtf8(sqlite3_errmsg(db)));
        }
        if (read < kChunkRows)
            break;
    }
    values.reset();
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
        StatementPtr ordered = prepare(db, sql);
        if (!ordered)
            return fail(QString::fromUtf8(sqlite3_errmsg(db)));
        s = ordered.get();
        ImageArray<uint32_t> rows;
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
        ordered.reset();
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

qint64 SearchImage::prefixRows(const QString &name, std::string_view prefix) const
{
    const Column *c = column(name);
    if (!c)
        return -1;
    if (!c->packed) {
        qint64 n = 0;
        for (size_t i = 0; i < c->values.size(); ++i)
            if (std::string_view(c->values[i]).substr(0, prefix.size()) == prefix)
                n += c->rowsOf[i + 1];
        return n;
    }
    // In an order led by the column, the values with the prefix are one run.
    for (qsizetype o = 0; o < m_orderNames.size(); ++o) {
        if (m_orderNames.at(o).first() != name)
            continue;
        const ImageArray<uint32_t> &order = m_orders[size_t(o)];
        auto head = [&](uint32_t row) { return c->value(row).substr(0, prefix.size()); };
        const auto from = std::partition_point(order.begin(), order.end(),
                                               [&](uint32_t row) { return head(row) < prefix; });
        const auto to = std::partition_point(from, order.end(),
                                             [&](uint32_t row) { return head(row) == prefix; });
        return to - from;
    }
    return -1;
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
    // A pattern anchored at the start looks for NUL and its prefix: the NUL
    // ends the row before the one that starts so.
    const bool anchored = !t.pattern.floating();
    const std::string needle = anchored ? std::string(1, '\0') + std::string(t.pattern.prefix())
                                        : std::string(t.pattern.needle());
    if (needle.size() <= (anchored ? 1u : 0u)) {
        // No literal to look for: each value in turn.
        for (size_t r = 0; r < rows; ++r)
            if (t.pattern.matches(c.value(r)))
                setBit(bits, r);
    } else {
        // The literal searched for over the whole column at once; the NUL
        // after each value keeps it from spanning two of them.
        const bool enough = t.pattern.needleIsMatch();
        if (anchored && rows > 0 && t.pattern.matches(c.value(0)))
            setBit(bits, 0);
        const char *base = c.bytes.data();
        const char *end = base + c.offsets[rows];
        const uint32_t *offsets = c.offsets.data();
        size_t r = 0;
        LiteralScan(needle).run(base, end, [&](const char *hit) {
            const auto at = uint32_t(hit - base);
            // The row holding the hit, galloping forwards from the last one.
            size_t step = 1;
            while (r + step < rows && offsets[r + step] <= at)
                step *= 2;
            r = size_t(std::upper_bound(offsets + r, offsets + std::min(r + step, rows) + 1, at) - offsets) - 1;
            const size_t match = anchored ? r + 1 : r;
            if (match >= rows)
                return end;
            if (enough || t.pattern.matches(c.value(match)))
                setBit(bits, match);
            r = match;
            // On from the end of this row (its NUL, for the anchored search).
            return base + offsets[match + 1] - (anchored ? 1 : 0);
        });
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
    if (!image)
        return nullptr;
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
                         const ImageArray<uint32_t> *order)
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
