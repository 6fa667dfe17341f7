#include "core/search/searchimages.h"

#include "core/store/store.h"

#include <QFile>

#include <sqlite3.h>

namespace korvana {

SearchImages::SearchImages(Store *store, QObject *parent) : QObject(parent), m_store(store) {}

SearchImages::~SearchImages()
{
    m_cancel = true;
    {
        std::lock_guard<std::mutex> lock(m_connectionMutex);
        if (m_connection)
            sqlite3_interrupt(m_connection);
    }
    if (m_worker.joinable())
        m_worker.join();
}

void SearchImages::start()
{
    m_started = true;
    build();
}

std::shared_ptr<const SearchImage> SearchImages::image(DirectoryKind kind)
{
    if (kind == DirectoryKind::Personal || !m_store)
        return nullptr;
    const int i = slot(kind);
    if (m_images[i] && m_versions[i] != m_store->tableVersion(kind)) {
        m_images[i].reset();
        build();
    }
    return m_images[i];
}

namespace {

struct ConnectionCloser {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};

} // namespace

void SearchImages::build()
{
    if (!m_started || !m_store)
        return;
    if (m_worker.joinable()) {
        m_again = true;
        return;
    }
    m_store->noticeOutsideWrites();
    QList<QPair<DirectoryKind, quint64>> wanted;
    for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises}) {
        const quint64 version = m_store->tableVersion(kind);
        // A table that could not be imaged (a value only SQLite reads
        // exactly, say) is not tried again until it changes.
        if (!m_images[slot(kind)] && !(m_failed[slot(kind)] && m_failedVersions[slot(kind)] == version))
            wanted.append({kind, version});
    }
    if (wanted.isEmpty())
        return;
    m_cancel = false;
    m_worker = std::thread([this, path = m_store->path(), file = m_store->fileId(), wanted] {
        // Nothing may leave this thread but its results: a build that throws
        // gives no image, and the connection is closed on every road.
        std::unique_ptr<sqlite3, ConnectionCloser> db;
        {
            sqlite3 *opened = nullptr;
            // Only this thread uses the connection: no locking per call.
            sqlite3_open_v2(QFile::encodeName(path).constData(), &opened,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
            db.reset(opened);
        }
        const bool sameFile = db && Store::readsFile(db.get(), path, file);
        if (sameFile) {
            // A writer of the personal directory holds the file only briefly.
            sqlite3_busy_timeout(db.get(), 5000);
            std::lock_guard<std::mutex> lock(m_connectionMutex);
            m_connection = db.get();
        }
        for (const auto &[kind, version] : wanted) {
            std::shared_ptr<const SearchImage> image;
            if (sameFile && !m_cancel) {
                try {
                    image = SearchImage::build(db.get(), kind, m_cancel);
                } catch (...) {
                    // Too large for this machine, say: SQLite keeps answering.
                }
            }
            QMetaObject::invokeMethod(
                this, [this, kind = kind, image, version = version] { built(kind, image, version); },
                Qt::QueuedConnection);
        }
        {
            std::lock_guard<std::mutex> lock(m_connectionMutex);
            m_connection = nullptr;
        }
        db.reset();
        QMetaObject::invokeMethod(this, [this] { workerDone(); }, Qt::QueuedConnection);
    });
}

void SearchImages::built(DirectoryKind kind, std::shared_ptr<const SearchImage> image, quint64 version)
{
    const int i = slot(kind);
    m_store->noticeOutsideWrites();
    if (version != m_store->tableVersion(kind)) {
        m_again = true; // written meanwhile: what was read may be half old
        return;
    }
    m_failed[i] = !image;
    m_failedVersions[i] = version;
    if (!image) {
        Q_EMIT failed(kind);
        return;
    }
    m_images[i] = std::move(image);
    m_versions[i] = version;
    Q_EMIT ready(kind);
}

void SearchImages::workerDone()
{
    m_worker.join();
    if (m_again) {
        m_again = false;
        build();
    }
}

} // namespace korvana
