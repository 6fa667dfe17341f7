#pragma once

#include "core/store/directorykind.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace korvana {

class ImageResult;

// Memory for the large arrays of an image: straight from the kernel in
// huge pages where it gives them, which saves most page faults while an
// image is filled. Arrays are sized once and never grow: on a virtual
// machine a moved array costs a trap per page at its next read.
namespace imagememory {
void *allocate(size_t bytes); // throws std::bad_alloc
void release(void *p, size_t bytes);
// For tests: every allocation of more than `bytes` fails (0: none does).
void failAllocationsAbove(size_t bytes);
} // namespace imagememory

template<typename T>
struct PageAllocator {
    using value_type = T;
    PageAllocator() = default;
    template<typename U>
    PageAllocator(const PageAllocator<U> &) {}
    T *allocate(size_t n) { return static_cast<T *>(imagememory::allocate(n * sizeof(T))); }
    void deallocate(T *p, size_t n) { imagememory::release(p, n * sizeof(T)); }
    friend bool operator==(const PageAllocator &, const PageAllocator &) { return true; }
};

template<typename T>
using ImageArray = std::vector<T, PageAllocator<T>>;

// The searchable folded columns of one public table held in memory, so that
// a pattern that starts with a wildcard is answered by one pass over a few
// megabytes instead of a scan of a million index entries. Columns of few
// distinct values (streets, houses, flats) are kept as a dictionary and a
// code per row; the others (numbers, names) as their values packed one
// after another, each ended by a NUL, so that a substring search runs over
// the whole column at once. Rows are numbered in rowid order; for each sort
// the window can ask for, the image holds the rows in that order.
// Immutable once built, so it can be shared with a worker thread.
class SearchImage {
public:
    ~SearchImage();

    // Reads the table through `db`, a connection of the caller's own, in
    // short statements (a long read would hold off writers of the personal
    // directory). nullptr on an error, when `cancel` is set, or when a
    // value is not well-formed UTF-8 (which only SQLite reads exactly).
    static std::unique_ptr<SearchImage> build(sqlite3 *db, DirectoryKind kind,
                                              const std::atomic<bool> &cancel,
                                              QString *error = nullptr);

    DirectoryKind kind() const { return m_kind; }
    qint64 rowCount() const { return m_rows; }
    size_t memoryBytes() const;
    double buildMs() const { return m_buildMs; }

    // Whether the image holds these criteria columns and this order.
    bool answers(const QStringList &columns, const QStringList &orderColumns) const;
    // The rows whose value of a column starts with a literal, when the image
    // can tell without a pass (a dictionary column, or one an order sorts
    // by); -1 otherwise.
    qint64 prefixRows(const QString &column, std::string_view prefix) const;

    // The rows matching every criterion (folded column, GLOB pattern) in
    // the given order. nullptr when a pattern or column is not one the
    // image answers (see answers() and GlobPattern::parse()).
    static std::unique_ptr<ImageResult> search(const std::shared_ptr<const SearchImage> &image,
                                               const QList<QPair<QString, QString>> &criteria,
                                               const QStringList &orderColumns);

    qint64 rowId(uint32_t row) const
    {
        return m_rowIds.empty() ? m_firstRowId + row : m_rowIds[row];
    }

    // Every value of a column in rowid order, NULL as an empty line: what a
    // plain byte scan of the column reads (the benchmark's reference).
    std::string dumpColumn(const QString &column) const;

    struct Column;

private:
    SearchImage() = default;
    const Column *column(const QString &name) const;

    DirectoryKind m_kind = DirectoryKind::Residents;
    qint64 m_rows = 0;
    qint64 m_firstRowId = 1;
    ImageArray<qint64> m_rowIds; // empty when the rowids are dense from m_firstRowId
    std::vector<std::unique_ptr<Column>> m_columns;
    QList<QStringList> m_orderNames;
    std::vector<ImageArray<uint32_t>> m_orders; // rows in each order of m_orderNames
    double m_buildMs = 0;
};

// One search answered by an image: the matching rows as a bitmap, their
// exact count, and their positions in the requested order, found as far as
// they are asked for (the first screen needs only the first few of them).
class ImageResult {
public:
    ImageResult(std::shared_ptr<const SearchImage> image, std::vector<uint64_t> bits,
                const ImageArray<uint32_t> *order);

    qint64 count() const { return m_count; }
    // The rowid of the row at a position of the order; -1 outside.
    qint64 rowIdAt(qint64 position);

private:
    std::shared_ptr<const SearchImage> m_image;
    std::vector<uint64_t> m_bits;
    const ImageArray<uint32_t> *m_order;
    std::vector<uint32_t> m_positions;
    size_t m_walked = 0; // entries of m_order looked at so far
    qint64 m_count = 0;
};

} // namespace korvana
