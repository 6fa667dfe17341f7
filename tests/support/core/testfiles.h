#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <csignal>
#include <sys/resource.h>

namespace korvana::test {

// The whole content of a file; empty when it cannot be read.
QByteArray readBytes(const QString &path);
// Makes `bytes` the whole content of `path`; false when that fails.
bool writeBytes(const QString &path, const QByteArray &bytes);

// Runs f() as on a full disk: no file may grow past maxBytes (a write
// fails instead of raising SIGXFSZ).
template <class F> auto onFullDisk(qint64 maxBytes, F f)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit small{rlim_t(maxBytes), old.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &small) != 0)
        qFatal("cannot limit the file size");
    auto result = f();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    return result;
}

} // namespace korvana::test
