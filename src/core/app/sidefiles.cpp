#include "core/app/sidefiles.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvana {

namespace {

// Drops an incomplete UTF-8 sequence that a cut left at the end, so that a
// cut line does not turn a UTF-8 file into Windows-1251.
void dropCutCharacter(QByteArray &line)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(line.at(i)); };
    qsizetype lead = line.size() - 1;
    while (lead >= 0 && line.size() - lead < 4 && (byte(lead) & 0xC0) == 0x80)
        --lead;
    if (lead < 0 || byte(lead) < 0xC0)
        return;
    const qsizetype length = byte(lead) >= 0xF0 ? 4 : byte(lead) >= 0xE0 ? 3 : 2;
    if (line.size() - lead < length)
        line.truncate(lead);
}

// Up to maxLines lines of `in`. A line ends at CR LF, at a CR alone or at
// an LF alone; the end of the data ends a last, unterminated line. Only
// the first kMaxSideLineBytes bytes of a line are kept, and no more than
// kMaxSideFileBytes bytes are read.
QList<QByteArray> readLines(QIODevice &in, int maxLines)
{
    QList<QByteArray> lines;
    QByteArray line;
    bool open = false, cut = false;
    qint64 budget = kMaxSideFileBytes;
    char c;
    while (lines.size() < maxLines && budget-- > 0 && in.getChar(&c)) {
        if (c != '\r' && c != '\n') {
            if (line.size() < kMaxSideLineBytes)
                line.append(c);
            else
                cut = true;
            open = true;
            continue;
        }
        char next;
        if (c == '\r' && budget > 0 && in.peek(&next, 1) == 1 && next == '\n') {
            in.getChar(&next);
            --budget;
        }
        if (std::exchange(cut, false))
            dropCutCharacter(line);
        lines.append(line);
        line.clear();
        open = false;
    }
    if (open && lines.size() < maxLines) {
        if (cut)
            dropCutCharacter(line);
        lines.append(line);
    }
    return lines;
}

// UTF-8 when all of it is valid UTF-8, else Windows-1251. The lines are
// decoded as one text so that the choice holds for the whole file.
QStringList decodeLines(const QList<QByteArray> &lines)
{
    if (lines.isEmpty())
        return {};
    const QByteArray joined = lines.join('\n');
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(joined);
    if (utf8.hasError()) {
        QStringDecoder cp1251("windows-1251", QStringDecoder::Flag::Stateless);
        // Without the code page (a Qt built without ICU) Latin-1 at least
        // keeps the digits and Latin letters.
        text = cp1251.isValid() ? QString(cp1251.decode(joined)) : QString::fromLatin1(joined);
    }
    return text.split(u'\n');
}

bool openNormalFile(QFile &file)
{
    return QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly);
}

// The value of a line's first character when it is a digit, else 0.
int firstDigit(const QString &line)
{
    if (line.isEmpty())
        return 0;
    const char16_t c = line.front().unicode();
    return (c >= u'0' && c <= u'9') ? int(c - u'0') : 0;
}

QByteArray wholeNumberText(float value)
{
    if (!std::isfinite(value))
        return "0";
    const double whole = std::floor(double(value));
    return QByteArray::number(whole == 0 ? 0.0 : whole, 'f', 0); // no "-0"
}

// Forces the written data of `file` to the disk.
bool syncData(QFileDevice &file, QString *reason)
{
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
#else
    Q_UNUSED(file);
    Q_UNUSED(reason);
#endif
    return true;
}

} // namespace

void syncDirectory(const QString &dir)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(dir);
#endif
}

std::optional<float> parseNumberText(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (QLocale locale : {QLocale::c(), QLocale::system()}) {
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const float value = locale.toFloat(trimmed, &ok);
        if (ok && std::isfinite(value))
            return value;
    }
    return std::nullopt;
}

namespace {

MyNumbers myNumbersFrom(QIODevice &in)
{
    MyNumbers result;
    result.present = true;
    const QStringList lines = decodeLines(readLines(in, 2 + kMaxOwnNumbers));
    if (lines.size() >= 1) {
        const int d = firstDigit(lines[0]);
        if (d < kExchangeCount)
            result.exchangeIndex = d;
    }
    if (lines.size() >= 2) {
        const int d = firstDigit(lines[1]);
        if (d > 0)
            result.port = d;
        else
            result.modem = false;
    }
    result.ownNumbers = lines.mid(2);
    return result;
}

} // namespace

MyNumbers readMyNumbers(const QString &path)
{
    QFile file(path);
    if (!openNormalFile(file))
        return {};
    return myNumbersFrom(file);
}

MyNumbers parseMyNumbers(const QByteArray &content)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    return myNumbersFrom(buffer);
}

// ---------------------------------------------------------------------------

const std::array<WGridCol::CellRef, kWidthFileCells> &widthFileOrder()
{
    static const std::array<WGridCol::CellRef, kWidthFileCells> order = [] {
        std::array<WGridCol::CellRef, kWidthFileCells> cells{};
        int i = 0;
        for (int grid : {1, 3, 2})
            for (int c = 0; c < WGridCol::columnCount(grid); ++c)
                cells[i++] = {grid, c};
        return cells;
    }();
    return order;
}

namespace {

int readWidths(WGridCol &table, QIODevice &in)
{
    const QStringList lines = decodeLines(readLines(in, kWidthFileCells));
    int taken = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const std::optional<float> width = parseNumberText(lines[i]);
        if (!width || !(*width > 0.0f) || *width > kMaxStoredWidth)
            continue;
        table.setCell(widthFileOrder()[i].grid, widthFileOrder()[i].cell, *width);
        ++taken;
    }
    return taken;
}

} // namespace

int readWidthFile(WGridCol &table, const QString &path)
{
    QFile file(path);
    if (!openNormalFile(file))
        return 0;
    return readWidths(table, file);
}

int readWidthContent(WGridCol &table, const QByteArray &content)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    return readWidths(table, buffer);
}

QByteArray widthFileContent(const WGridCol &table)
{
    QByteArray out;
    const auto line = [&out](float value) {
        out += wholeNumberText(value);
        out += "\r\n";
    };
    for (const WGridCol::CellRef &ref : widthFileOrder())
        line(table.cell(ref.grid, ref.cell));
    line(table.windowWidth());
    line(0.0f);
    return out;
}

bool writeWidthFile(const WGridCol &table, const QString &path, QString *error)
{
    // QSaveFile writes a temporary file and renames it over the target only
    // on commit(); without DirectWriteFallback it never writes into the
    // target itself. Its commit() (Qt 6.4) ignores a failed flush and a
    // failed data sync, so both are done and checked here first.
    QSaveFile file(path);
    const QByteArray content = widthFileContent(table);
    QString reason;
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()
        || !file.flush()) {
        reason = file.errorString();
    } else if (!syncData(file, &reason) || !file.commit()) {
        if (reason.isEmpty())
            reason = file.errorString();
    }
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        file.cancelWriting();
        return false;
    }
    syncDirectory(QFileInfo(path).absolutePath());
    return true;
}

WGridCol loadWidthTable(const QString &path)
{
    WGridCol table = WGridCol::withDefaults();
    readWidthFile(table, path);
    return table;
}

} // namespace korvana
