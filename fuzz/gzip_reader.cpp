// The gzip reader: whatever the bytes, a problem named, content refused as too large, or
// content within the limit that zlib packs again and the reader unpacks to the same bytes.

#include "FuzzCheck.h"
#include "GzipBytes.h"
#include "nzb/GzipReader.h"

#include <cstdint>

// Small, so that inputs made to unpack to far more are met quickly and often.
constexpr qsizetype kLimit = qsizetype(1) << 20;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const gzip::Unpacked unpacked = gzip::unpack(bytes, kLimit);
    switch (unpacked.status) {
    case gzip::Unpacked::Status::Invalid:
        FUZZ_CHECK(!unpacked.problem.isEmpty() && unpacked.text.isEmpty());
        return 0;
    case gzip::Unpacked::Status::TooLarge:
        FUZZ_CHECK(gzip::looksCompressed(bytes) && unpacked.text.isEmpty());
        return 0;
    case gzip::Unpacked::Status::Ok:
        break;
    }
    FUZZ_CHECK(gzip::looksCompressed(bytes));
    const QByteArray &text = unpacked.text;
    FUZZ_CHECK(text.size() <= kLimit);

    const QByteArray packed = gzipped(text, size > 0 ? data[size - 1] % 10 : 6);
    const gzip::Unpacked again = gzip::unpack(packed, kLimit);
    FUZZ_CHECK(again.status == gzip::Unpacked::Status::Ok && again.text == text);
    // The limit is exact: content of its size fits, one byte more does not.
    FUZZ_CHECK(gzip::unpack(packed, text.size()).status == gzip::Unpacked::Status::Ok);
    if (!text.isEmpty())
        FUZZ_CHECK(gzip::unpack(packed, text.size() - 1).status == gzip::Unpacked::Status::TooLarge);
    return 0;
}
