#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <zlib.h>

// Gzip files made by zlib in the test itself, so no compressed files need to be kept.
class GzipWriter
{
public:
    explicit GzipWriter(int level = Z_DEFAULT_COMPRESSION)
    {
        if (deflateInit2(&m_stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            qFatal("deflateInit2 failed");
    }
    ~GzipWriter() { deflateEnd(&m_stream); }
    GzipWriter(const GzipWriter &) = delete;
    GzipWriter &operator=(const GzipWriter &) = delete;

    // Adds `count` times `text` to the member without ever holding the whole content.
    GzipWriter &add(const QByteArray &text, qint64 count = 1)
    {
        for (qint64 i = 0; i < count; ++i)
            run(text, Z_NO_FLUSH);
        return *this;
    }

    // Ends the member and gives the file.
    QByteArray finish()
    {
        run(QByteArray(), Z_FINISH);
        return m_out;
    }

private:
    void run(const QByteArray &text, int flush)
    {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
        m_stream.avail_in = uInt(text.size());
        int status = Z_OK;
        do {
            char block[16384];
            m_stream.next_out = reinterpret_cast<Bytef *>(block);
            m_stream.avail_out = sizeof block;
            status = deflate(&m_stream, flush);
            if (status == Z_STREAM_ERROR)
                qFatal("deflate failed");
            m_out.append(block, qsizetype(sizeof block - m_stream.avail_out));
        } while (m_stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }

    z_stream m_stream{};
    QByteArray m_out;
};

// `text` as a one-member gzip file.
inline QByteArray gzipped(const QByteArray &text, int level = Z_DEFAULT_COMPRESSION)
{
    return GzipWriter(level).add(text).finish();
}
