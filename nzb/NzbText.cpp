#include "nzb/NzbText.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <array>
#include <cstring>

namespace nzbtext {
namespace {

enum class Encoding { Utf8, Latin1, Windows1252, Utf16LE, Utf16BE, Unsupported };

// Code points of the bytes 0x80 to 0x9F in windows-1252; 0 marks the five undefined bytes.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool startsWith(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), size_t(prefix.size())) == 0;
}

// The encoding named in the XML declaration, empty when there is none.
QByteArray declaredEncoding(QByteArrayView text)
{
    if (!startsWith(text, "<?xml"))
        return {};
    const qsizetype end = text.first(qMin<qsizetype>(text.size(), 1024)).indexOf("?>");
    if (end < 0)
        return {};
    static const QRegularExpression pattern(QStringLiteral(R"(\sencoding\s*=\s*(["'])([A-Za-z0-9._:-]*)\1)"));
    const auto match = pattern.match(QString::fromLatin1(text.first(end)));
    return match.hasMatch() ? match.captured(2).toLatin1().toLower() : QByteArray("utf-8");
}

Encoding encodingByName(const QByteArray &name)
{
    if (name.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii")
        return Encoding::Utf8;
    if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" || name == "latin-1"
        || name == "l1")
        return Encoding::Latin1;
    if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252")
        return Encoding::Windows1252;
    if (name == "utf-16")
        return Encoding::Utf16LE; // only reachable with a byte-order mark, which decides the order
    return Encoding::Unsupported;
}

std::optional<TextError> singleByteToUtf8(QByteArray &bytes, bool windows1252)
{
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        char16_t unit = byte;
        if (windows1252 && byte >= 0x80 && byte <= 0x9F) {
            unit = kWindows1252High[byte - 0x80];
            if (unit == 0)
                return TextError{InvalidByteSequence, i,
                                 QStringLiteral("Byte 0x%1 is not valid in windows-1252.").arg(byte, 2, 16, QChar(u'0'))};
        }
        if (unit < 0x80) {
            out.append(char(unit));
        } else if (unit < 0x800) {
            out.append(char(0xC0 | (unit >> 6)));
            out.append(char(0x80 | (unit & 0x3F)));
        } else {
            out.append(char(0xE0 | (unit >> 12)));
            out.append(char(0x80 | ((unit >> 6) & 0x3F)));
            out.append(char(0x80 | (unit & 0x3F)));
        }
    }
    bytes = std::move(out);
    return std::nullopt;
}

bool hasUnpairedSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return true;
    }
    return false;
}

std::optional<TextError> utf16ToUtf8(QByteArray &bytes, Encoding order)
{
    QStringDecoder decoder(order == Encoding::Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
                           QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(bytes).sliced(2));
    if (decoder.hasError() || hasUnpairedSurrogate(text))
        return TextError{InvalidByteSequence, 0, QStringLiteral("The file is not valid UTF-16.")};
    bytes = text.toUtf8();
    return std::nullopt;
}

std::optional<TextError> decodeToUtf8(QByteArray &bytes)
{
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
        return std::nullopt;
    }
    if (startsWith(bytes, "\xFF\xFE"))
        return utf16ToUtf8(bytes, Encoding::Utf16LE);
    if (startsWith(bytes, "\xFE\xFF"))
        return utf16ToUtf8(bytes, Encoding::Utf16BE);

    const QByteArray name = declaredEncoding(bytes);
    switch (encodingByName(name)) {
    case Encoding::Utf8:
        return std::nullopt;
    case Encoding::Latin1:
        return singleByteToUtf8(bytes, false);
    case Encoding::Windows1252:
        return singleByteToUtf8(bytes, true);
    default:
        return TextError{UnsupportedEncoding, 0,
                         QStringLiteral("The encoding \"%1\" is not supported.").arg(QString::fromLatin1(name))};
    }
}

// Removes every case-insensitive occurrence of `pattern` (plain ASCII starting with "<!").
void removeAllIgnoringCase(QByteArray &text, QByteArrayView pattern)
{
    char *const data = text.data();
    const qsizetype size = text.size();
    qsizetype read = 0;
    qsizetype write = 0;
    while (true) {
        const void *hit = memmem(data + read, size_t(size - read), "<!", 2);
        const qsizetype at = hit ? static_cast<const char *>(hit) - data : size;
        const bool matches = hit && size - at >= pattern.size()
                             && QByteArrayView(data + at, pattern.size()).compare(pattern, Qt::CaseInsensitive) == 0;
        const qsizetype keepEnd = matches ? at : qMin(size, at + 2);
        if (write != read)
            std::memmove(data + write, data + read, size_t(keepEnd - read));
        write += keepEnd - read;
        read = matches ? at + pattern.size() : keepEnd;
        if (read >= size)
            break;
    }
    text.truncate(write);
}

} // namespace

void removeNzbDoctypes(QByteArray &text)
{
    removeAllIgnoringCase(
        text, R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 0.9//EN" "http://www.newzbin.com/DTD/nzb/nzb-0.9.dtd">)");
    removeAllIgnoringCase(
        text, R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.0//EN" "http://www.newzbin.com/DTD/nzb/nzb-1.0.dtd">)");
}

qsizetype findInvalidUtf8(QByteArrayView text)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        // Eight ASCII bytes at a time: most of an NZB is ASCII.
        if (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            const bool allAscii = (word & 0x8080808080808080ULL) == 0;
            const bool hasNul = ((word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL) != 0;
            if (allAscii && !hasNul) {
                i += 8;
                continue;
            }
        }
        const unsigned char lead = bytes[i];
        if (lead == 0)
            return i;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0; // overlong
            if (lead == 0xED)
                high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90; // overlong
            if (lead == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            return i;
        }
        if (i + length > size || bytes[i + 1] < low || bytes[i + 1] > high)
            return i;
        for (int k = 2; k < length; ++k)
            if ((bytes[i + k] & 0xC0) != 0x80)
                return i;
        i += length;
    }
    return -1;
}

qsizetype lineAtOffset(QByteArrayView text, qsizetype offset)
{
    offset = qBound<qsizetype>(0, offset, text.size());
    qsizetype line = 1;
    for (qsizetype i = 0; i < offset; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
            ++line;
    }
    return line;
}

std::optional<TextError> prepareText(QByteArray &bytes)
{
    if (auto error = decodeToUtf8(bytes))
        return error;
    removeNzbDoctypes(bytes);
    const qsizetype invalid = findInvalidUtf8(bytes);
    if (invalid < 0)
        return std::nullopt;
    if (bytes[invalid] == '\0')
        return TextError{NulCharacter, invalid, QStringLiteral("The file contains a NUL character.")};
    return TextError{InvalidByteSequence, invalid,
                     QStringLiteral("Byte 0x%1 is not valid UTF-8.")
                         .arg(static_cast<unsigned char>(bytes[invalid]), 2, 16, QChar(u'0'))};
}

} // namespace nzbtext
