#pragma once

#include <QByteArray>
#include <QString>

namespace korvana::test {

// The whole content of a file; empty when it cannot be read.
QByteArray readBytes(const QString &path);
// Makes `bytes` the whole content of `path`; false when that fails.
bool writeBytes(const QString &path, const QByteArray &bytes);

} // namespace korvana::test
