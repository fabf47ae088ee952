#include "repair/Yenc.h"

#include <zlib.h>

#include <optional>

namespace yenc {
namespace {

// The value of `name=` on a yEnc keyword line, up to the next blank; `name` is the last
// keyword on =ybegin, so it takes the rest of the line.
std::optional<QByteArrayView> keyword(QByteArrayView line, QByteArrayView key)
{
    for (qsizetype at = 0; (at = line.indexOf(key, at)) >= 0; at += key.size()) {
        if (at > 0 && line[at - 1] != ' ')
            continue;
        const qsizetype begin = at + key.size();
        if (key == "name=")
            return line.sliced(begin);
        qsizetype end = line.indexOf(' ', begin);
        return line.sliced(begin, (end < 0 ? line.size() : end) - begin);
    }
    return std::nullopt;
}

std::optional<qint64> number(QByteArrayView line, QByteArrayView key, int base = 10)
{
    const auto text = keyword(line, key);
    if (!text || text->isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text->toLongLong(&ok, base);
    return ok && value >= 0 ? std::optional(value) : std::nullopt;
}

// Appends the bytes of one encoded line; false when it ends inside an escape.
bool decodeLine(QByteArrayView line, QByteArray &out)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        unsigned char c = uchar(line[i]);
        if (c == '=') {
            if (++i == line.size())
                return false;
            c = uchar(uchar(line[i]) - 64);
        }
        out.append(char(uchar(c - 42)));
    }
    return true;
}

QByteArrayView withoutCr(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

} // namespace

std::variant<DecodedPart, QString> DecodeBody(QByteArrayView body)
{
    DecodedPart part;
    std::optional<qint64> partEnd;
    bool begun = false;
    for (qsizetype start = 0; start < body.size();) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        const QByteArrayView line = withoutCr(body.sliced(start, end - start));
        start = end + 1;
        if (!begun) {
            if (!line.startsWith("=ybegin "))
                continue;
            const auto size = number(line, "size=");
            if (!size)
                return QStringLiteral("the =ybegin line names no size");
            part.fileSize = *size;
            part.multipart = number(line, "part=").has_value();
            part.name = keyword(line, "name=").value_or(QByteArrayView()).toByteArray();
            begun = true;
        } else if (line.startsWith("=ypart ")) {
            const auto first = number(line, "begin=");
            partEnd = number(line, "end=");
            if (!first || !partEnd || *first < 1 || *partEnd < *first || *partEnd > part.fileSize)
                return QStringLiteral("the =ypart line is not valid");
            part.begin = *first;
        } else if (line.startsWith("=yend")) {
            const qint64 expected = partEnd ? *partEnd - part.begin + 1 : part.fileSize;
            if (number(line, "size=") != std::optional(qint64(part.data.size())) || part.data.size() != expected)
                return QStringLiteral("the part's size disagrees with its =yend line");
            const auto crc = number(line, part.multipart ? "pcrc32=" : "crc32=", 16);
            const uLong actual = crc32(0, reinterpret_cast<const Bytef *>(part.data.constData()), uInt(part.data.size()));
            if (crc && quint32(*crc) != quint32(actual))
                return QStringLiteral("the part's CRC32 disagrees with its =yend line");
            return part;
        } else if (!decodeLine(line, part.data)) {
            return QStringLiteral("an encoded line ends inside an escape");
        }
    }
    return begun ? QStringLiteral("the body ends before its =yend line") : QStringLiteral("the body holds no =ybegin line");
}

} // namespace yenc
