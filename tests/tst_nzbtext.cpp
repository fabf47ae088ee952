#include "nzb/NzbText.h"

#include <QTest>

using namespace nzbtext;

class TestNzbText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesDeclaredEncodings_data();
    void decodesDeclaredEncodings();
    void rejectsBytesInvalidInTheirEncoding_data();
    void rejectsBytesInvalidInTheirEncoding();
    void removesOnlyThePublishedDoctypes();
    void countsLines();
};

void TestNzbText::decodesDeclaredEncodings_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("utf8");

    QTest::newRow("no declaration is UTF-8") << QByteArray("<a>\xC3\xA9</a>") << QByteArray("<a>\xC3\xA9</a>");
    QTest::newRow("byte-order mark dropped") << QByteArray("\xEF\xBB\xBF<a/>") << QByteArray("<a/>");
    QTest::newRow("ISO-8859-1") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9\x80</a>")
                                << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9\xC2\x80</a>");
    QTest::newRow("windows-1252, single quotes")
        << QByteArray("<?xml version='1.0' encoding='windows-1252'?><a>\x80\x93</a>")
        << QByteArray("<?xml version='1.0' encoding='windows-1252'?><a>\xE2\x82\xAC\xE2\x80\x9C</a>");
    QTest::newRow("declaration without encoding")
        << QByteArray("<?xml version=\"1.0\"?><a>\xC3\xA9</a>") << QByteArray("<?xml version=\"1.0\"?><a>\xC3\xA9</a>");
    QTest::newRow("UTF-16LE with mark") << QByteArray("\xFF\xFE<\0a\0/\0>\0", 10) << QByteArray("<a/>");
    QTest::newRow("UTF-16BE with mark") << QByteArray("\xFE\xFF\0<\0a\0/\0>", 10) << QByteArray("<a/>");
}

void TestNzbText::decodesDeclaredEncodings()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, utf8);
    QCOMPARE(prepareText(bytes).has_value(), false);
    QCOMPARE(bytes, utf8);
}

void TestNzbText::rejectsBytesInvalidInTheirEncoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<qsizetype>("offset");

    QTest::newRow("lone continuation byte") << QByteArray("<a>\x80</a>") << int(InvalidByteSequence) << qsizetype(3);
    QTest::newRow("Latin-1 read as UTF-8") << QByteArray("<a>caf\xE9</a>") << int(InvalidByteSequence) << qsizetype(6);
    QTest::newRow("overlong slash") << QByteArray("<a>\xC0\xAF</a>") << int(InvalidByteSequence) << qsizetype(3);
    QTest::newRow("surrogate") << QByteArray("<a>\xED\xA0\x80</a>") << int(InvalidByteSequence) << qsizetype(3);
    QTest::newRow("above U+10FFFF") << QByteArray("<a>\xF4\x90\x80\x80</a>") << int(InvalidByteSequence) << qsizetype(3);
    QTest::newRow("truncated at the end") << QByteArray("<a/>\xE2\x82") << int(InvalidByteSequence) << qsizetype(4);
    QTest::newRow("NUL after ASCII run") << QByteArray("<abcdefghijk\0/>", 15) << int(NulCharacter) << qsizetype(12);
    QTest::newRow("windows-1252 undefined byte")
        << QByteArray("<?xml version='1.0' encoding='cp1252'?><a>\x81</a>") << int(InvalidByteSequence) << qsizetype(42);
    QTest::newRow("unknown encoding") << QByteArray("<?xml version='1.0' encoding='EBCDIC'?><a/>")
                                      << int(UnsupportedEncoding) << qsizetype(0);
    QTest::newRow("UTF-16 declared on 8-bit text") << QByteArray("<?xml version='1.0' encoding='UTF-16'?><a/>")
                                                   << int(UnsupportedEncoding) << qsizetype(0);
    QTest::newRow("UTF-16 lone surrogate") << QByteArray("\xFF\xFE\x00\xD8<\0", 6) << int(InvalidByteSequence)
                                           << qsizetype(0);
}

void TestNzbText::rejectsBytesInvalidInTheirEncoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, code);
    QFETCH(qsizetype, offset);
    const auto error = prepareText(bytes);
    QVERIFY(error.has_value());
    QCOMPARE(error->code, code);
    QCOMPARE(error->offset, offset);
    QVERIFY(!error->reason.isEmpty());
}

void TestNzbText::removesOnlyThePublishedDoctypes()
{
    const QByteArray v09 = R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 0.9//EN" "http://www.newzbin.com/DTD/nzb/nzb-0.9.dtd">)";
    const QByteArray v10 = R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.0//EN" "http://www.newzbin.com/DTD/nzb/nzb-1.0.dtd">)";
    const QByteArray v11 = R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.1//EN" "http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd">)";
    const QByteArray otherBlanks = R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.0//EN"  "http://www.newzbin.com/DTD/nzb/nzb-1.0.dtd">)";

    QByteArray text = "a" + v09 + "b" + v10.toLower() + "c" + v10 + v10 + "d<!-- x --><!" + otherBlanks + v11 + "<!";
    removeNzbDoctypes(text);
    QCOMPARE(text, "abcd<!-- x --><!" + otherBlanks + v11 + "<!");

    QByteArray upper = v09.toUpper();
    removeNzbDoctypes(upper);
    QCOMPARE(upper, QByteArray());
}

void TestNzbText::countsLines()
{
    const QByteArray text = "a\nb\r\nc\rd";
    QCOMPARE(lineAtOffset(text, 0), 1);
    QCOMPARE(lineAtOffset(text, 2), 2);
    QCOMPARE(lineAtOffset(text, 4), 2); // between CR and LF
    QCOMPARE(lineAtOffset(text, 5), 3);
    QCOMPARE(lineAtOffset(text, 7), 4);
    QCOMPARE(lineAtOffset(text, 1000), 4);
}

QTEST_APPLESS_MAIN(TestNzbText)
#include "tst_nzbtext.moc"
