#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QtEndian>

// PAR2 packets and yEnc articles built in a test, for the readers and the scripted servers.

inline QByteArray littleEndian(quint64 value, int bytes)
{
    QByteArray text(8, '\0');
    qToLittleEndian(value, text.data());
    return text.first(bytes);
}

// A packet of set "s…s" with its MD5 right.
inline QByteArray par2Packet(const char (&type)[17], const QByteArray &body)
{
    const QByteArray hashed = QByteArray(16, 's') + QByteArray(type, 16) + body;
    return QByteArray("PAR2\0PKT", 8) + littleEndian(quint64(64 + body.size()), 8) + QCryptographicHash::hash(hashed, QCryptographicHash::Md5) + hashed;
}

// A main packet and one file description: the index of one file of `length` bytes.
inline QByteArray par2Index(qint64 sliceSize, qint64 length, const QByteArray &name = "s.rar")
{
    const QByteArray id(16, 'i');
    return par2Packet("PAR 2.0\0Main\0\0\0\0", littleEndian(quint64(sliceSize), 8) + littleEndian(1, 4) + id)
           + par2Packet("PAR 2.0\0FileDesc", id + QByteArray(32, 'h') + littleEndian(quint64(length), 8) + name + QByteArray(-name.size() & 3, '\0'));
}

// yEnc's escapes, and those a scripted server's rules need: a dot (it may begin a line), '|' and '$'.
inline QByteArray yencEncoded(const QByteArray &data)
{
    QByteArray text;
    for (const char c : data) {
        const char e = char(uchar(c) + 42);
        if (QByteArrayView("\0\n\r=.|$", 7).contains(e))
            text += '=' + QByteArray(1, char(uchar(e) + 64));
        else
            text += e;
    }
    return text;
}

// A scripted server's BODY reply: `data` as the one part of file `name`, a line per 100 bytes.
inline QByteArray yencReply(const QByteArray &name, const QByteArray &data)
{
    const QByteArray size = QByteArray::number(data.size());
    QByteArray body = "222 0\n=ybegin line=128 size=" + size + " name=" + name + '\n';
    for (qsizetype at = 0; at < data.size(); at += 100)
        body += yencEncoded(data.mid(at, 100)) + '\n';
    return body + "=yend size=" + size + "\n.";
}
