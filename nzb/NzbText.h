#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Turning the bytes of an NZB file into the UTF-8 text the XML parser reads.
namespace nzbtext {

// An input that is not text in its declared encoding; reported like an XML parse error.
struct TextError {
    int code = 0;
    qsizetype offset = 0; // in the text as far as it was prepared
    QString reason;
};

enum ErrorCode { UnsupportedEncoding = 101, InvalidByteSequence = 102, NulCharacter = 103 };

// Decodes `bytes` in place to UTF-8 per the byte-order mark or the XML declaration
// (UTF-8 when neither names an encoding), removes the two published NZB
// document-type declarations and checks that what remains is valid UTF-8 without NUL.
std::optional<TextError> prepareText(QByteArray &bytes);

// Removes every occurrence of the NZB 0.9, then the NZB 1.0 document-type declaration,
// comparing without regard to letter case.
void removeNzbDoctypes(QByteArray &text);

// The offset of the first byte that is not valid UTF-8 or is NUL, or -1.
qsizetype findInvalidUtf8(QByteArrayView text);

// The 1-based line on which `offset` lies; CR LF, LF and a lone CR each end a line.
qsizetype lineAtOffset(QByteArrayView text, qsizetype offset);

} // namespace nzbtext
