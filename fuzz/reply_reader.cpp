// The reply reader on a byte stream cut into arbitrary chunks: the lines it gives, each with
// its CR LF, and the bytes still waiting are exactly the stream, up to the chunk that passed
// the longest line.
//
// Input: one byte per chunk giving its length (0 to 255), then the chunk, until the input ends.

#include "FuzzCheck.h"
#include "check/ReplyReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    ReplyReader reader;
    QByteArray stream;
    QByteArray taken;
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t wanted = data[offset++];
        const std::size_t length = std::min(wanted, size - offset);
        const QByteArrayView chunk(reinterpret_cast<const char *>(data) + offset, qsizetype(length));
        offset += length;
        stream += chunk;
        reader.append(chunk);
        QByteArray line;
        while (reader.takeLine(line)) {
            FUZZ_CHECK(!line.contains("\r\n"));
            taken += line + "\r\n";
        }
        if (reader.overflowed())
            break;
    }
    const QByteArray pending = reader.pending();
    FUZZ_CHECK(reader.overflowed() || !pending.contains("\r\n"));
    FUZZ_CHECK(taken + pending == stream);
    return 0;
}
