#include "nzb/NzbText.h"

#include <QTest>

using namespace nzbtext;

namespace {

const QByteArray v09 = R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 0.9//EN" "http://www.newzbin.com/DTD/nzb/nzb-0.9.dtd">)";
const QByteArray v10 = R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.0//EN" "http://www.newzbin.com/DTD/nzb/nzb-1.0.dtd">)";

} // namespace

class TestNzbText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The prepared text, or the error as "code@offset reason".
    void preparesText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("prepared");

        const QByteArray latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
        const QByteArray cp1252 = "<?xml version='1.0' encoding='windows-1252'?>";
        QTest::newRow("no declaration is UTF-8") << QByteArray("<a>\xC3\xA9</a>") << QByteArray("<a>\xC3\xA9</a>");
        QTest::newRow("byte-order mark dropped") << QByteArray("\xEF\xBB\xBF<a/>") << QByteArray("<a/>");
        QTest::newRow("ISO-8859-1") << latin1 + "<a>\xE9\x80</a>" << latin1 + "<a>\xC3\xA9\xC2\x80</a>";
        QTest::newRow("windows-1252") << cp1252 + "<a>\x80\x93</a>" << cp1252 + "<a>\xE2\x82\xAC\xE2\x80\x9C</a>";
        QTest::newRow("UTF-16LE with mark") << QByteArray("\xFF\xFE<\0a\0/\0>\0", 10) << QByteArray("<a/>");
        QTest::newRow("UTF-16BE with mark") << QByteArray("\xFE\xFF\0<\0a\0/\0>", 10) << QByteArray("<a/>");
        // Only the two published declarations go, in any letter case; lookalikes stay.
        const QByteArray otherBlanks = QByteArray(v10).replace("EN\" ", "EN\"  ");
        const QByteArray v11 = QByteArray(v10).replace("1.0", "1.1");
        QTest::newRow("doctypes") << "a" + v09 + "b" + v10.toLower() + "c" + v10 + v10 + "d<!-- x --><!" + otherBlanks + v11 + "<!" << "abcd<!-- x --><!" + otherBlanks + v11 + "<!";
        QTest::newRow("doctype in upper case") << v09.toUpper() << QByteArray();

        const auto error = [](const char *tag, const QByteArray &bytes, const char *error) { QTest::newRow(tag) << bytes << QByteArray(error); };
        error("lone continuation byte", "<a>\x80</a>", "102@3 Byte 0x80 is not valid UTF-8.");
        error("overlong slash", "<a>\xC0\xAF</a>", "102@3 Byte 0xc0 is not valid UTF-8.");
        error("surrogate", "<a>\xED\xA0\x80</a>", "102@3 Byte 0xed is not valid UTF-8.");
        error("above U+10FFFF", "<a>\xF4\x90\x80\x80</a>", "102@3 Byte 0xf4 is not valid UTF-8.");
        error("truncated at the end", "<a/>\xE2\x82", "102@4 Byte 0xe2 is not valid UTF-8.");
        error("NUL after ASCII run", QByteArray("<abcdefghijk\0/>", 15), "103@12 The file contains a NUL character.");
        error("windows-1252 undefined byte", "<?xml version='1.0' encoding='cp1252'?>\x81", "102@39 Byte 0x81 is not valid in windows-1252.");
        error("unknown encoding", "<?xml version='1.0' encoding='EBCDIC'?><a/>", "101@0 The encoding \"ebcdic\" is not supported.");
        error("UTF-16 declared on 8-bit text", "<?xml version='1.0' encoding='UTF-16'?><a/>", "101@0 The encoding \"utf-16\" is not supported.");
        error("UTF-16 lone surrogate", QByteArray("\xFF\xFE\x00\xD8<\0", 6), "102@0 The file is not valid UTF-16.");
    }

    void preparesText()
    {
        QFETCH(QByteArray, bytes);
        const auto error = prepareText(bytes);
        QTEST(error ? QByteArray::number(error->code) + '@' + QByteArray::number(error->offset) + ' ' + error->reason.toUtf8() : bytes, "prepared");
    }

    void countsLines()
    {
        // CR LF, LF and a lone CR each end a line; offsets past the end count to the end.
        const QByteArray text = "a\nb\r\nc\rd";
        const std::pair<qsizetype, qsizetype> offsetsAndLines[] = {{0, 1}, {2, 2}, {4, 2}, {5, 3}, {7, 4}, {1000, 4}};
        for (const auto &[offset, line] : offsetsAndLines)
            QCOMPARE(lineAtOffset(text, offset), line);
    }
};

QTEST_APPLESS_MAIN(TestNzbText)
#include "tst_nzbtext.moc"
