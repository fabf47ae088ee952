#include "nzb/SubjectParsing.h"

#include <QTest>

using namespace subject;

class TestSubjectParsing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parsesSubjects_data();
    void parsesSubjects();
    void rejectsCountersThatAreNotWholeNumbers_data();
    void rejectsCountersThatAreNotWholeNumbers();
    void fallbackNameCountsCharactersNotUtf16Units();
};

void TestSubjectParsing::parsesSubjects_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("announced");
    QTest::addColumn<QString>("withoutCounter");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("quoted name") << QStringLiteral("[3/9] - \"a.part1.rar\" yEnc (1/50)") << 50
                                 << QStringLiteral("[3/9] - \"a.part1.rar\" yEnc") << QStringLiteral("a.part1.rar");
    QTest::newRow("bracket, no quotes") << QStringLiteral("[01/10] - file.part01.rar yEnc (1/20)") << 20
                                        << QStringLiteral("[01/10] - file.part01.rar yEnc")
                                        << QStringLiteral("file.part01.rar yEnc");
    QTest::newRow("counter with blanks") << QStringLiteral("x (1/ 50 )") << 50 << QStringLiteral("x") << QStringLiteral("x");
    QTest::newRow("slash without paren") << QStringLiteral("a/b") << 0 << QStringLiteral("a/b") << QStringLiteral("a/b");
    QTest::newRow("paren without slash") << QStringLiteral("a (b)") << 0 << QStringLiteral("a") << QStringLiteral("a");
    QTest::newRow("paren is second character") << QStringLiteral("x(1/2)") << 2 << QString() << QString();
    QTest::newRow("paren is first character") << QStringLiteral("(1/2) name") << 2 << QString() << QString();
    QTest::newRow("name containing a paren") << QStringLiteral("\"my (best) file.bin\"") << 0
                                             << QStringLiteral("\"my") << QString();
    QTest::newRow("single quote") << QStringLiteral("abc \"def (1/2)") << 2 << QStringLiteral("abc \"def")
                                  << QStringLiteral("abc ");
    QTest::newRow("only quote first") << QStringLiteral("\"abc (1/2)") << 2 << QStringLiteral("\"abc") << QString();
    QTest::newRow("last of several quoted names")
        << QStringLiteral("\"one.rar\" and \"two.rar\" yEnc (3/7)") << 7 << QStringLiteral("\"one.rar\" and \"two.rar\" yEnc")
        << QStringLiteral("two.rar");
    QTest::newRow("quoted name keeps its blanks") << QStringLiteral("\" spaced \" (1/1)") << 1
                                                  << QStringLiteral("\" spaced \"") << QStringLiteral(" spaced ");
    QTest::newRow("bracket at the end") << QStringLiteral("abc [1/2]") << 0 << QStringLiteral("abc [1/2]") << QString();
    QTest::newRow("empty") << QString() << 0 << QString() << QString();

    const QString hundred = QStringLiteral("0123456789").repeated(10);
    QTest::newRow("100 characters, nothing to find") << hundred << 0 << hundred << hundred.right(85);
    const QString withCounter = QStringLiteral("   ") + QStringLiteral("name ").repeated(20) + QStringLiteral("(12/345)");
    QTest::newRow("counter, no quotes, no bracket")
        << withCounter << 345 << withCounter.left(withCounter.size() - 9)
        << withCounter.left(withCounter.size() - 9).right(85).trimmed();
}

void TestSubjectParsing::parsesSubjects()
{
    QFETCH(QString, subject);
    QFETCH(int, announced);
    QFETCH(QString, withoutCounter);
    QFETCH(QString, fileName);
    QCOMPARE(AnnouncedPartCount(subject), announced);
    QCOMPARE(SubjectWithoutCounter(subject), withoutCounter);
    QCOMPARE(FileNameFromSubject(subject), fileName);
}

void TestSubjectParsing::rejectsCountersThatAreNotWholeNumbers_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("announced");
    QTest::newRow("paren before slash") << QStringLiteral("a/b (x)") << 0;
    QTest::newRow("letters") << QStringLiteral("(1/5x)") << 0;
    QTest::newRow("blank inside digits") << QStringLiteral("(1/5 0)") << 0;
    QTest::newRow("sign") << QStringLiteral("(1/-5)") << 0;
    QTest::newRow("empty") << QStringLiteral("(1/)") << 0;
    QTest::newRow("largest 32-bit") << QStringLiteral("(1/2147483647)") << 2147483647;
    QTest::newRow("beyond 32 bits") << QStringLiteral("(1/2147483648)") << 0;
    QTest::newRow("far beyond 32 bits") << QStringLiteral("(1/99999999999999999999999)") << 0;
    QTest::newRow("tab is not a blank") << QStringLiteral("(1/\t5)") << 0;
}

void TestSubjectParsing::rejectsCountersThatAreNotWholeNumbers()
{
    QFETCH(QString, subject);
    QFETCH(int, announced);
    QCOMPARE(AnnouncedPartCount(subject), announced);
}

void TestSubjectParsing::fallbackNameCountsCharactersNotUtf16Units()
{
    // 90 emoji: 180 UTF-16 units; the name keeps 85 whole characters.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString name = FileNameFromSubject(emoji.repeated(90));
    QCOMPARE(name, emoji.repeated(85));
    // The two characters skipped after "]" may be one surrogate pair and a blank.
    QCOMPARE(FileNameFromSubject(QStringLiteral("[1/2]") + emoji + QStringLiteral(" x.bin")), QStringLiteral("x.bin"));
    // The character dropped before "(" may be a surrogate pair.
    QCOMPARE(SubjectWithoutCounter(QStringLiteral("ab") + emoji + QStringLiteral("(1/2)")), QStringLiteral("ab"));
}

QTEST_APPLESS_MAIN(TestSubjectParsing)
#include "tst_subjectparsing.moc"
