#include "nzb/GzipReader.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <new>

namespace gzip {
namespace {

constexpr qsizetype kFirstBlock = qsizetype(64) << 10;
// zlib counts bytes in 32-bit units; larger inputs and outputs are handed over in steps.
constexpr qsizetype kLargestStep = qsizetype(1) << 30;
// Deflate expands at most about 1032 to 1, so the size a file claims is believed only that far.
constexpr qsizetype kMostExpansion = 1032;

class Inflater
{
public:
    Inflater()
    {
        // 16 + MAX_WBITS: a gzip wrapper only, with its CRC and length checked at each member's end.
        if (inflateInit2(&m_stream, 16 + MAX_WBITS) != Z_OK)
            throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&m_stream); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    z_stream &stream() { return m_stream; }

private:
    z_stream m_stream{};
};

// The first output block: the size the last member's trailer records, when that is plausible,
// so that the common single-member file is unpacked without growing the text.
qsizetype firstBlockSize(QByteArrayView bytes, qsizetype limit)
{
    qsizetype claimed = 0;
    if (bytes.size() >= 18) {
        const auto *end = reinterpret_cast<const unsigned char *>(bytes.data() + bytes.size());
        claimed = qsizetype(end[-4]) | qsizetype(end[-3]) << 8 | qsizetype(end[-2]) << 16 | qsizetype(end[-1]) << 24;
        claimed = qMin(claimed + 1, bytes.size() * kMostExpansion); // +1: room to see the end without growing
    }
    return qMin(limit, qMax(kFirstBlock, claimed));
}

// The start of another member, or of one cut short after its first byte.
bool startsAMember(QByteArrayView rest)
{
    return rest.size() >= 1 && rest[0] == '\x1f' && (rest.size() == 1 || rest[1] == '\x8b');
}

Unpacked invalid(const QString &problem)
{
    Unpacked result;
    result.status = Unpacked::Status::Invalid;
    result.problem = problem;
    return result;
}

Unpacked tooLarge()
{
    Unpacked result;
    result.status = Unpacked::Status::TooLarge;
    return result;
}

} // namespace

bool looksCompressed(QByteArrayView bytes)
{
    return bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b';
}

Unpacked unpack(QByteArrayView bytes, qsizetype largest)
{
    // One byte beyond the limit is room enough to tell that the content goes beyond it.
    const qsizetype limit = qMax<qsizetype>(largest, 0) + 1;
    Inflater inflater;
    z_stream &stream = inflater.stream();
    const auto *input = reinterpret_cast<const Bytef *>(bytes.data());
    qsizetype consumed = 0;
    qsizetype produced = 0;
    QByteArray text;

    for (;;) {
        if (produced == text.size()) {
            if (produced >= limit)
                return tooLarge();
            // Reserved exactly, so the text never holds more than the limit, even while it grows.
            const qsizetype grown = produced == 0 ? firstBlockSize(bytes, limit) : qMin(limit, produced * 2);
            text.reserve(grown);
            text.resize(grown);
        }
        stream.next_in = input + consumed;
        stream.avail_in = uInt(qMin(bytes.size() - consumed, kLargestStep));
        stream.next_out = reinterpret_cast<Bytef *>(text.data() + produced);
        stream.avail_out = uInt(qMin(text.size() - produced, kLargestStep));
        const uInt inputBefore = stream.avail_in;
        const uInt outputBefore = stream.avail_out;
        const int status = inflate(&stream, Z_NO_FLUSH);
        consumed += inputBefore - stream.avail_in;
        produced += outputBefore - stream.avail_out;

        switch (status) {
        case Z_STREAM_END: {
            const QByteArrayView rest = bytes.sliced(consumed);
            if (std::all_of(rest.begin(), rest.end(), [](char c) { return c == 0; })) {
                if (produced > largest)
                    return tooLarge();
                text.resize(produced);
                text.squeeze();
                Unpacked result;
                result.status = Unpacked::Status::Ok;
                result.text = std::move(text);
                return result;
            }
            if (!startsAMember(rest))
                return invalid(QStringLiteral("other data follows the compressed data"));
            inflateReset(&stream);
            break;
        }
        case Z_OK:
        case Z_BUF_ERROR:
            // With room left for output, zlib stops only for want of input.
            if (stream.avail_out > 0 && consumed == bytes.size())
                return invalid(QStringLiteral("it ends in the middle of the compressed data"));
            break;
        case Z_MEM_ERROR:
            throw std::bad_alloc();
        default: // Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR
            return invalid(stream.msg ? QString::fromUtf8(stream.msg) : QStringLiteral("the compressed data is damaged"));
        }
    }
}

} // namespace gzip
