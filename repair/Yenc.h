#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <variant>

// Decoding one yEnc article: the part's bytes and where they lie in their file.
namespace yenc {

struct DecodedPart {
    qint64 begin = 1;    // 1-based position of the first byte in the file
    qint64 fileSize = 0; // the whole file's size, from =ybegin
    bool multipart = false;
    QByteArray name;     // =ybegin name=, as the article gives it
    QByteArray data;
};

// `body` is an article body as NNTP sends it after dot-unstuffing, lines ended by LF or CR LF.
// Fails with the reason when it holds no complete yEnc part or its CRC32 disagrees.
std::variant<DecodedPart, QString> DecodeBody(QByteArrayView body);

} // namespace yenc
