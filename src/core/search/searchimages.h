#pragma once

#include "core/search/searchimage.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

struct sqlite3;

namespace korvana {

class Store;

// The in-memory images of the residents' and enterprises' tables. They are
// built on a worker thread with a connection of its own, once start() is
// called (after the window shows its first result), and only from the very
// file the store reads (not a new edition renamed over its path since);
// until an image is ready, and whenever it has gone stale, the SQLite plans
// answer. An image is stale once its own table is written, through the
// store or by another program (seen by the store's change counters, which
// the record source looks at once per search); it is then dropped and built
// again. The personal directory is small and gets none.
class SearchImages : public QObject {
    Q_OBJECT
public:
    explicit SearchImages(Store *store, QObject *parent = nullptr);
    ~SearchImages() override;

    void start();
    // The table's image if it is up to date with what the store last
    // noticed; a stale one is dropped here and a new one is started. The
    // caller keeps what it got for the whole of one search.
    std::shared_ptr<const SearchImage> image(DirectoryKind kind);

Q_SIGNALS:
    void ready(DirectoryKind kind);
    // A build that gave no image; SQLite goes on answering.
    void failed(DirectoryKind kind);

private:
    static int slot(DirectoryKind kind) { return kind == DirectoryKind::Enterprises ? 1 : 0; }
    void build();
    void built(DirectoryKind kind, std::shared_ptr<const SearchImage> image, quint64 version);
    void workerDone();

    Store *m_store;
    std::shared_ptr<const SearchImage> m_images[2];
    quint64 m_versions[2] = {};       // the table versions they were read at
    bool m_failed[2] = {};
    quint64 m_failedVersions[2] = {};
    bool m_started = false;
    bool m_again = false; // a table changed while the worker ran
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    std::mutex m_connectionMutex; // guards m_connection for sqlite3_interrupt
    sqlite3 *m_connection = nullptr;
};

} // namespace korvana
