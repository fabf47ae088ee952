#include "nzb/SubjectParsing.h"

#include <QTest>

using namespace subject;

class TestSubjectParsing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parsesSubjects_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("announced");
        QTest::addColumn<QString>("withoutCounter");
        QTest::addColumn<QString>("fileName");

        const auto row = [](const char *tag, const QString &subject, int announced, const QString &cut, const QString &name) {
            QTest::newRow(tag) << subject << announced << cut << name;
        };
        row("quoted name", "[3/9] - \"a.part1.rar\" yEnc (1/50)", 50, "[3/9] - \"a.part1.rar\" yEnc", "a.part1.rar");
        row("bracket, no quotes", "[01/10] - f.part01.rar yEnc (1/20)", 20, "[01/10] - f.part01.rar yEnc", "f.part01.rar yEnc");
        row("counter with blanks", "x (1/ 50 )", 50, "x", "x");
        row("slash without paren", "a/b", 0, "a/b", "a/b");
        row("paren without slash", "a (b)", 0, "a", "a");
        row("paren before slash", "a/b (x)", 0, "a/b", "a/b");
        row("paren is second character", "x(1/2)", 2, "", "");
        row("paren is first character", "(1/2) name", 2, "", "");
        row("name containing a paren", "\"my (best) file.bin\"", 0, "\"my", "");
        row("single quote", "abc \"def (1/2)", 2, "abc \"def", "abc ");
        row("only quote first", "\"abc (1/2)", 2, "\"abc", "");
        row("last of several quoted names", "\"one.rar\" and \"two.rar\" yEnc (3/7)", 7,
            "\"one.rar\" and \"two.rar\" yEnc", "two.rar");
        row("quoted name keeps its blanks", "\" spaced \" (1/1)", 1, "\" spaced \"", " spaced ");
        row("bracket at the end", "abc [1/2]", 0, "abc [1/2]", "");
        row("empty", "", 0, "", "");
        const QString hundred = QStringLiteral("0123456789").repeated(10);
        row("100 characters, nothing to find", hundred, 0, hundred, hundred.right(85));
        const QString words = QStringLiteral("   ") + QStringLiteral("name ").repeated(20);
        row("counter, no quotes, no bracket", words + "(12/345)", 345, words.chopped(1), words.chopped(1).right(85).trimmed());
        // A counter is a whole number of 32 bits, blanks around it allowed.
        row("letters", "(1/5x)", 0, "", "");
        row("blank inside digits", "(1/5 0)", 0, "", "");
        row("sign", "(1/-5)", 0, "", "");
        row("no digits", "(1/)", 0, "", "");
        row("tab is not a blank", "(1/\t5)", 0, "", "");
        row("largest 32-bit", "(1/2147483647)", 2147483647, "", "");
        row("beyond 32 bits", "(1/2147483648)", 0, "", "");
        row("far beyond 32 bits", "(1/99999999999999999999999)", 0, "", "");
        // Characters beyond the basic plane count as one, never split.
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        row("90 emoji keep 85", emoji.repeated(90), 0, emoji.repeated(90), emoji.repeated(85));
        row("emoji after the bracket", "[1/2]" + emoji + " x.bin", 0, "[1/2]" + emoji + " x.bin", "x.bin");
        row("emoji before the paren", "ab" + emoji + "(1/2)", 2, "ab", "ab");
    }

    void parsesSubjects()
    {
        QFETCH(QString, subject);
        QFETCH(int, announced);
        QFETCH(QString, withoutCounter);
        QFETCH(QString, fileName);
        QCOMPARE(AnnouncedPartCount(subject), announced);
        QCOMPARE(SubjectWithoutCounter(subject), withoutCounter);
        QCOMPARE(FileNameFromSubject(subject), fileName);
    }
};

QTEST_APPLESS_MAIN(TestSubjectParsing)
#include "tst_subjectparsing.moc"
