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
    if (set.complete()) {
        // A volume's name may claim 999,999,999 blocks: the offsets still grow, none past the end.
        const qint64 claimed = 999999999;
        const par2::RecoveryPacketOffsets offsets(set, claimed);
        FUZZ_CHECK(offsets[0] == 0 && offsets[1] > offsets[0] && offsets[claimed - 1] >= offsets[1]
                   && par2::VolumeSize(set, claimed) >= offsets[claimed - 1]);
    }
    return 0;
}
