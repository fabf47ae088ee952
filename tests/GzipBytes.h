#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <zlib.h>

// `text` as a one-member gzip file, made by zlib in the test itself, so no compressed files need to be kept.
inline QByteArray gzipped(const QByteArray &text, int level = Z_DEFAULT_COMPRESSION)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        qFatal("deflateInit2 failed");
    QByteArray out(qsizetype(deflateBound(&stream, uLong(text.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        qFatal("deflate failed");
    out.truncate(qsizetype(stream.total_out));
    return out;
}
