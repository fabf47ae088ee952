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
    return Encoding::Unsupported;
}

// The length of the leading run of bytes from 0x01 to 0x7F. Eight bytes at a time:
// an NZB is mostly ASCII, and each pass over a 100 MB file costs.
qsizetype plainAsciiPrefix(QByteArrayView text)
{
    qsizetype i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        const bool hasHighBit = (word & 0x8080808080808080ULL) != 0;
        const bool hasNul = ((word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL) != 0;
        if (hasHighBit || hasNul)
            break;
    }
    while (i < text.size() && text[i] != '\0' && static_cast<unsigned char>(text[i]) < 0x80)
        ++i;
    return i;
}

std::optional<TextError> singleByteToUtf8(QByteArray &bytes, bool windows1252, qsizetype start)
{
    QByteArray out(start + (bytes.size() - start) * 3, Qt::Uninitialized);
    std::memcpy(out.data(), bytes.constData(), size_t(start));
    char *write = out.data() + start;
    for (qsizetype i = start; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        char16_t unit = byte;
        if (windows1252 && byte >= 0x80 && byte <= 0x9F) {
            unit = kWindows1252High[byte - 0x80];
            if (unit == 0)
                return TextError{InvalidByteSequence, i,
                                 QStringLiteral("Byte 0x%1 is not valid in windows-1252.").arg(byte, 2, 16, QChar(u'0'))};
        }
        if (unit < 0x80) {
            *write++ = char(unit);
        } else if (unit < 0x800) {
            *write++ = char(0xC0 | (unit >> 6));
            *write++ = char(0x80 | (unit & 0x3F));
        } else {
            *write++ = char(0xE0 | (unit >> 12));
            *write++ = char(0x80 | ((unit >> 6) & 0x3F));
            *write++ = char(0x80 | (unit & 0x3F));
        }
    }
    out.truncate(write - out.constData());
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

// Decodes to UTF-8, telling through `validated` whether the result is known to be valid
// UTF-8 without NUL. UTF-16 is known by its byte-order mark alone.
std::optional<TextError> decodeToUtf8(QByteArray &bytes, bool &validated)
{
    validated = false;
    if (startsWith(bytes, "\xFF\xFE"))
        return utf16ToUtf8(bytes, Encoding::Utf16LE);
    if (startsWith(bytes, "\xFE\xFF"))
        return utf16ToUtf8(bytes, Encoding::Utf16BE);
    const bool utf8Mark = startsWith(bytes, "\xEF\xBB\xBF");
    if (utf8Mark)
        bytes.remove(0, 3);

    const QByteArray name = utf8Mark ? QByteArray() : declaredEncoding(bytes);
    const Encoding encoding = encodingByName(name);
    if (encoding == Encoding::Unsupported)
        return TextError{UnsupportedEncoding, 0,
                         QStringLiteral("The encoding \"%1\" is not supported.").arg(QString::fromLatin1(name))};
    // Plain ASCII reads the same in every supported encoding.
    const qsizetype asciiEnd = plainAsciiPrefix(bytes);
    if (asciiEnd == bytes.size()) {
        validated = true;
        return std::nullopt;
    }
    if (encoding == Encoding::Utf8)
        return std::nullopt;
    if (bytes[asciiEnd] == '\0')
        return std::nullopt; // left for the validation to report
    return singleByteToUtf8(bytes, encoding == Encoding::Windows1252, asciiEnd);
}

// The next "<!" in [from, end). Searches for "!", which is rare in an NZB, where "<" is everywhere.
const char *findMarkupDeclaration(const char *from, const char *end)
{
    for (const char *p = from + 1; p < end;) {
        p = static_cast<const char *>(std::memchr(p, '!', size_t(end - p)));
        if (!p)
            return nullptr;
        if (p[-1] == '<')
            return p - 1;
        ++p;
    }
    return nullptr;
}

// Removes every case-insensitive occurrence of `pattern` (plain ASCII starting with "<!").
void removeAllIgnoringCase(QByteArray &text, QByteArrayView pattern)
{
    char *const data = text.data();
    const qsizetype size = text.size();
    qsizetype read = 0;
    qsizetype write = 0;
    while (true) {
        const char *hit = findMarkupDeclaration(data + read, data + size);
        const qsizetype at = hit ? hit - data : size;
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
        i += plainAsciiPrefix(text.sliced(i));
        if (i == size)
            break;
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
    bool validated = false;
    if (auto error = decodeToUtf8(bytes, validated))
        return error;
    removeNzbDoctypes(bytes);
    if (validated)
        return std::nullopt; // removing ASCII declarations keeps ASCII text ASCII
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
