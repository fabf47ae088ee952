#include "repair/Par2Packets.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <numeric>
#include <set>

namespace par2 {
namespace {

constexpr qsizetype kHeaderSize = 64;
constexpr QByteArrayView kMagic("PAR2\0PKT", 8);
constexpr QByteArrayView kMain("PAR 2.0\0Main\0\0\0\0", 16);
constexpr QByteArrayView kFileDescription("PAR 2.0\0FileDesc", 16);
constexpr QByteArrayView kSliceChecksums("PAR 2.0\0IFSC\0\0\0\0", 16);
constexpr QByteArrayView kRecoverySlice("PAR 2.0\0RecvSlic", 16);
constexpr QByteArrayView kCreator("PAR 2.0\0Creator\0", 16);

quint64 littleEndian64(QByteArrayView bytes, qsizetype at)
{
    return qFromLittleEndian<quint64>(bytes.data() + at);
}

// The text of a packet body padded with NULs to a multiple of 4.
QString paddedText(QByteArrayView text)
{
    const qsizetype end = text.indexOf('\0');
    return QString::fromUtf8(end < 0 ? text : text.first(end));
}

void readBody(QByteArrayView type, QByteArrayView body, qint64 packetSize, SetDescription &set, std::set<QByteArray> &seen)
{
    if (type == kRecoverySlice) {
        if (!set.firstRecoverySliceSize && set.criticalPacketSizes.empty())
            set.firstRecoverySliceSize = body.size() - 4;
        return;
    }
    if (type == kCreator) {
        set.creator = paddedText(body);
        set.creatorPacketSize = packetSize;
        return;
    }
    if (type != kMain && type != kFileDescription && type != kSliceChecksums)
        return;
    // A volume repeats the critical packets; one copy describes the set.
    if (!seen.insert(type.toByteArray() + body.first(qMin<qsizetype>(body.size(), 16)).toByteArray()).second)
        return;
    set.criticalPacketSizes.push_back(packetSize);
    if (type == kMain && body.size() >= 12) {
        set.sliceSize = qint64(littleEndian64(body, 0));
        set.fileCount = qFromLittleEndian<quint32>(body.data() + 8);
    } else if (type == kFileDescription && body.size() >= 56) {
        set.files.push_back({body.first(16).toByteArray(), paddedText(body.sliced(56)), qint64(littleEndian64(body, 48)),
                             body.sliced(32, 16).toByteArray()});
    }
}

} // namespace

PacketsSeen SeenPackets(QByteArrayView bytes, bool fileStart)
{
    PacketsSeen seen;
    seen.par2 = fileStart ? bytes.startsWith(kMagic) : bytes.contains(kMagic);
    for (qsizetype at = 0; seen.par2 && (at = bytes.indexOf(kMagic, at)) >= 0 && bytes.size() - at >= kHeaderSize; at += kMagic.size()) {
        if (bytes.sliced(at + 48, 16) == kRecoverySlice) {
            seen.recoveryPacketSize = qint64(littleEndian64(bytes, at + 8));
            break;
        }
        if (fileStart)
            break;
    }
    return seen;
}

SetDescription ReadPackets(QByteArrayView bytes, qint64 *hashedBytes)
{
    SetDescription set;
    std::set<QByteArray> seen;
    // Damaged headers may each claim the rest of the bytes: checking every one would take
    // quadratic time, so a packet whose MD5 would overrun the budget is skipped as damaged.
    const qint64 budget = 2 * qint64(bytes.size());
    qint64 hashed = 0;
    qsizetype at = 0;
    while ((at = bytes.indexOf(kMagic, at)) >= 0 && bytes.size() - at >= kHeaderSize) {
        const quint64 length = littleEndian64(bytes, at + 8);
        if (length < quint64(kHeaderSize) || length % 4 != 0 || length > quint64(bytes.size() - at)
            || hashed + qint64(length) - 32 > budget) {
            at += kMagic.size();
            continue;
        }
        const QByteArrayView packet = bytes.sliced(at, qsizetype(length));
        hashed += packet.size() - 32;
        if (QCryptographicHash::hash(packet.sliced(32), QCryptographicHash::Md5) != packet.sliced(16, 16)) {
            at += kMagic.size();
            continue;
        }
        if (set.setId.isEmpty())
            set.setId = packet.sliced(32, 16).toByteArray();
        readBody(packet.sliced(48, 16), packet.sliced(kHeaderSize), qint64(length), set, seen);
        at += qsizetype(length);
    }
    if (hashedBytes)
        *hashedBytes = hashed;
    return set;
}

int CriticalCopies(qint64 blocks)
{
    int copies = 1;
    for (qint64 n = blocks; n > 1; n /= 2)
        ++copies;
    return copies;
}

RecoveryPacketOffsets::RecoveryPacketOffsets(const SetDescription &set, qint64 blocks)
    : m_packetSize(set.recoveryPacketSize())
    , m_blocks(blocks)
    , m_criticalPackets(CriticalCopies(blocks) * qint64(set.criticalPacketSizes.size()))
{
    m_criticalBefore.push_back(0);
    for (const qint64 size : set.criticalPacketSizes)
        m_criticalBefore.push_back(m_criticalBefore.back() + size);
}

qint64 RecoveryPacketOffsets::operator[](qint64 j) const
{
    // Before packet j lie j recovery packets and the first floor(j * T / n) of the T critical
    // packets the copies make: whole copies, then the start of one.
    const qint64 kinds = qint64(m_criticalBefore.size()) - 1;
    __int128 offset = __int128(j) * m_packetSize;
    if (kinds > 0) {
        const qint64 critical = qint64(__int128(j) * m_criticalPackets / m_blocks);
        offset += __int128(critical / kinds) * m_criticalBefore.back() + m_criticalBefore[size_t(critical % kinds)];
    }
    return Saturated(offset);
}

bool SetDescription::tooManySourceBlocks() const
{
    if (sliceSize <= 0)
        return false; // no main packet: nothing is cut into slices
    qint64 blocks = 0;
    for (const FileDescription &file : files) {
        if (file.length < 0)
            return true;
        const qint64 fileBlocks = file.length / sliceSize + (file.length % sliceSize != 0 ? 1 : 0);
        if (fileBlocks > kMostSourceBlocks - blocks)
            return true;
        blocks += fileBlocks;
    }
    return false;
}

qint64 SetDescription::criticalSize() const
{
    return std::accumulate(criticalPacketSizes.begin(), criticalPacketSizes.end(), qint64(0));
}

qint64 VolumeSize(const SetDescription &set, qint64 blocks)
{
    return Saturated(__int128(blocks) * set.recoveryPacketSize()
                     + __int128(blocks > 0 ? CriticalCopies(blocks) : 1) * set.criticalSize() + set.creatorPacketSize);
}

} // namespace par2
