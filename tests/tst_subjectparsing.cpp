#include "nzb/SubjectParsing.h"
#include "repair/VerdictNames.h"

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
        QTest::addColumn<QString>("verdictName"); // of the NZB's seventh file; the list's name unless given

        const auto row = [](const char *tag, const QString &subject, int announced, const QString &cut, const QString &name,
                            const QString &verdictName = {}) {
            QTest::newRow(tag) << subject << announced << cut << name
                               << (!verdictName.isEmpty() ? verdictName : name.isEmpty() ? QStringLiteral("file 7") : name);
        };
        row("counter with blanks", "x (1/ 50 )", 50, "x", "x");
        row("paren before slash", "a/b (x)", 0, "a/b", "a/b");
        row("paren is first character", "(1/2) name", 2, "", "");
        row("single quote", "abc \"def (1/2)", 2, "abc \"def", "abc ");
        row("only quote first", "\"abc (1/2)", 2, "\"abc", "");
        row("last of several quoted names", "\"one.rar\" and \"two.rar\" yEnc (3/7)", 7, "\"one.rar\" and \"two.rar\" yEnc", "two.rar");
        row("bracket at the end", "abc [1/2]", 0, "abc [1/2]", "");
        // A counter is a whole number of 32 bits, blanks around it allowed.
        row("letters", "(1/5x)", 0, "", "");
        row("blank inside digits", "(1/5 0)", 0, "", "");
        row("no digits", "(1/ )", 0, "", "");
        row("largest 32-bit", "(1/2147483647)", 2147483647, "", "");
        row("beyond 32 bits", "(1/2147483648)", 0, "", "");
        // Characters beyond the basic plane count as one, never split. Common subjects are in the loader's golden files.
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        row("emoji after the bracket", "[1/2]" + emoji + "-x.bin", 0, "[1/2]" + emoji + "-x.bin", "x.bin");
        row("emoji before the paren", "ab" + emoji + "(1/2)", 2, "ab", "ab");
        // Formats whose name the list keeps as it reads it, and the verdict reads as the file's.
        row("unquoted, yEnc", "a.part01.rar yEnc (1/27)", 27, "a.part01.rar yEnc", "a.part01.rar yEnc", "a.part01.rar");
        row("counter, unquoted, yEnc", "[3/9] - a.r00 YENC (1/27)", 27, "[3/9] - a.r00 YENC", "a.r00 YENC", "a.r00");
        row("bracketed name, empty quotes", "[PRiVATE]-[WtFnZb]-[a.7z.001]-[2/5] - \"\" yEnc 4096 (1/3)", 3,
            "[PRiVATE]-[WtFnZb]-[a.7z.001]-[2/5] - \"\" yEnc 4096", "", "a.7z.001");
        row("quoted yEnc stays", "\"x yEnc\" yEnc (1/2)", 2, "\"x yEnc\" yEnc", "x yEnc");
        row("only yEnc", "yEnc (1/2)", 2, "yEnc", "yEnc");
    }

    void parsesSubjects()
    {
        QFETCH(QString, subject);
        QTEST(AnnouncedPartCount(subject), "announced");
        QTEST(SubjectWithoutCounter(subject), "withoutCounter");
        QTEST(FileNameFromSubject(subject), "fileName");
        QTEST(repair::VerdictFileName(subject, FileNameFromSubject(subject), 7), "verdictName");
    }

    void countsAnnouncedFiles_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("files");
        QTest::newRow("leading") << "[03/12] - \"a.r00\" yEnc (1/27)" << 12;
        QTest::newRow("after tags, blanks inside") << "[PRiVATE]-[a.7z.001]-[ 2 / 5 ] - \"\" yEnc 4096 (1/3)" << 5;
        QTest::newRow("inside the quoted name") << "\"a [1/2].rar\" yEnc (1/2)" << 0;
        QTest::newRow("position 0") << "[0/5] - a.rar yEnc (1/2)" << 0;
        QTest::newRow("position beyond the count") << "[6/5] - a.rar yEnc (1/2)" << 0;
        QTest::newRow("ten digits") << "[1/1234567890] - a.rar yEnc (1/2)" << 0;
        QTest::newRow("a part counter only") << "a.rar (1/2)" << 0;
    }

    void countsAnnouncedFiles()
    {
        QFETCH(QString, subject);
        QTEST(AnnouncedFileCount(subject), "files");
    }
};

QTEST_APPLESS_MAIN(TestSubjectParsing)
#include "tst_subjectparsing.moc"
