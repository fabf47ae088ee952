#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <limits>
#include <optional>
#include <vector>

// Reading the packets of a PAR2 file, or of the first part of one.
namespace par2 {

// A recovery packet holds its header (64 bytes), its exponent (4) and one slice.
constexpr qint64 kRecoveryPacketOverhead = 64 + 4;
// The most source blocks a PAR2 set can have.
constexpr qint64 kMostSourceBlocks = 32768;

// A volume's name may claim any block count: the sizes it multiplies stop at the largest
// qint64, past every article an NZB can list, instead of overflowing.
inline qint64 Saturated(__int128 size)
{
    return size > std::numeric_limits<qint64>::max() ? std::numeric_limits<qint64>::max() : qint64(size);
}

struct FileDescription {
    QByteArray id;
    QString name;
    qint64 length = 0;
    QByteArray hash16k = {}; // MD5 of the file's first 16 KiB
};

// What a set's critical packets tell, as far as the bytes held them.
struct SetDescription {
    qint64 sliceSize = 0;                     // 0: no main packet was read
    qint64 fileCount = 0;                     // of the recovery set, from the main packet
    std::vector<FileDescription> files;       // in the order of their packets
    std::vector<qint64> criticalPacketSizes;  // one copy, in the file's order: main, descriptions, checksums
    qint64 creatorPacketSize = 0;
    QString creator;
    std::optional<qint64> firstRecoverySliceSize; // S from a volume's first packet, a recovery slice
    QByteArray setId;                             // the recovery set's ID, from the first packet read

    // Every file of the set is described and the slice size is known.
    bool complete() const { return sliceSize > 0 && qint64(files.size()) == fileCount; }
    // The bytes of one copy of the critical packets.
    qint64 criticalSize() const;
    // The bytes of a recovery packet; the index may claim a slice size near 2^63.
    qint64 recoveryPacketSize() const { return Saturated(__int128(sliceSize) + kRecoveryPacketOverhead); }
    bool madeByPar2cmdline() const { return creator.contains(QLatin1String("par2cmdline")); }
    // Its files need more than kMostSourceBlocks slices in all, or one claims a length past 2^63.
    bool tooManySourceBlocks() const;
};

// What a part of a file says of its kind, whatever the file's name: a par2 file begins with a
// packet's magic, and any part of it but the smallest holds one.
struct PacketsSeen {
    bool par2 = false;
    std::optional<qint64> recoveryPacketSize; // the first recovery slice packet's length: a volume
};
// `fileStart`: the bytes begin the file, where a volume's first packet is a recovery slice.
PacketsSeen SeenPackets(QByteArrayView bytes, bool fileStart);

// Reads every whole packet of `bytes` whose MD5 is right; a damaged or cut packet is skipped.
// Critical packets repeated in a volume are kept once. The bytes hashed never exceed twice
// those given; `hashedBytes`, when given, receives their count.
SetDescription ReadPackets(QByteArrayView bytes, qint64 *hashedBytes = nullptr);

// Where each recovery packet of a volume of `blocks` blocks, as par2cmdline writes it, begins.
// Copies of the critical packets follow the recovery packets, spread evenly among them. Worked
// out per packet, as a volume's name may claim any count.
class RecoveryPacketOffsets
{
public:
    RecoveryPacketOffsets(const SetDescription &set, qint64 blocks);
    // Of packet `j`, from 0 to blocks - 1.
    qint64 operator[](qint64 j) const;

private:
    std::vector<qint64> m_criticalBefore; // per packet of one copy: the bytes of the copy before it
    qint64 m_packetSize, m_blocks, m_criticalPackets;
};

// The decoded size of such a volume.
qint64 VolumeSize(const SetDescription &set, qint64 blocks);

// The copies of the critical packets par2cmdline writes into a volume of `blocks` blocks.
int CriticalCopies(qint64 blocks);

} // namespace par2
