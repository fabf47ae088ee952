#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// Reading the packets of a PAR2 file, or of the first part of one.
namespace par2 {

// A recovery packet holds its header (64 bytes), its exponent (4) and one slice.
constexpr qint64 kRecoveryPacketOverhead = 64 + 4;

struct FileDescription {
    QByteArray id;
    QString name;
    qint64 length = 0;
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

    // Every file of the set is described and the slice size is known.
    bool complete() const { return sliceSize > 0 && qint64(files.size()) == fileCount; }
    // The bytes of one copy of the critical packets.
    qint64 criticalSize() const;
    bool madeByPar2cmdline() const { return creator.contains(QLatin1String("par2cmdline")); }
};

// Reads every whole packet of `bytes` whose MD5 is right; a damaged or cut packet is skipped.
// Critical packets repeated in a volume are kept once. The bytes hashed never exceed twice
// those given; `hashedBytes`, when given, receives their count.
SetDescription ReadPackets(QByteArrayView bytes, qint64 *hashedBytes = nullptr);

// Where each recovery packet of a volume of `blocks` blocks, as par2cmdline writes it, begins.
// Copies of the critical packets follow the recovery packets, spread evenly among them.
std::vector<qint64> RecoveryPacketOffsets(const SetDescription &set, int blocks);

// The decoded size of such a volume.
qint64 VolumeSize(const SetDescription &set, int blocks);

// The copies of the critical packets par2cmdline writes into a volume of `blocks` blocks.
int CriticalCopies(int blocks);

} // namespace par2
