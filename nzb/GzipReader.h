#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// NZB files are often saved gzip-compressed (.nzb.gz); this unpacks them before parsing.
namespace gzip {

// Whether `bytes` begin with the gzip signature, whatever the file is called.
bool looksCompressed(QByteArrayView bytes);

struct Unpacked {
    enum class Status { Ok, Invalid, TooLarge };

    Status status = Status::Invalid;
    QByteArray text; // Ok: the content of every member, in order
    QString problem; // Invalid: what is wrong, in zlib's words where it has them
};

// Unpacks the gzip file `bytes`, all of its members (`cat a.gz b.gz` is one valid file).
// Content beyond `largest` bytes is TooLarge, and no more than about that much is ever held,
// so a small file that unpacks to gigabytes costs no more memory than the limit.
// Zero bytes after the last member are padding; any other bytes there make the file Invalid.
// Throws std::bad_alloc when memory runs out.
Unpacked unpack(QByteArrayView bytes, qsizetype largest);

} // namespace gzip
