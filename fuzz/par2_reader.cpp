// What a hostile server can send as a par2 article: the yEnc decoder and the PAR2 packet reader
// take any bytes, and what they read stays within what they were given, read in linear time.

#include "FuzzCheck.h"
#include "repair/Par2Packets.h"
#include "repair/Yenc.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto decoded = yenc::DecodeBody(bytes);
    if (const auto *part = std::get_if<yenc::DecodedPart>(&decoded))
        FUZZ_CHECK(part->data.size() <= bytes.size() && part->begin >= 1 && part->begin - 1 + part->data.size() <= part->fileSize);
    qint64 hashed = 0;
    const par2::SetDescription set = par2::ReadPackets(bytes, &hashed);
    FUZZ_CHECK(set.criticalSize() <= bytes.size() && hashed <= 2 * bytes.size());
    if (set.complete() && set.sliceSize < (1 << 20))
        FUZZ_CHECK(qint64(par2::RecoveryPacketOffsets(set, 3).size()) == 3);
    return 0;
}
