#include "nzb/NzbLoader.h"

#include "GzipBytes.h"
#include "TestFiles.h"

#include "nzb/GzipReader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <set>
#include <thread>

#include <sys/stat.h>

namespace {

struct FileSpec {
    QByteArray subject;
    QByteArray date = "1700000000";
    QList<QByteArray> groups;
    QList<QByteArray> segments;
};

QByteArray fileElement(const FileSpec &entry)
{
    QByteArray xml = "<file poster=\"p@example.invalid\" subject=\"" + entry.subject + "\"";
    if (!entry.date.isNull())
        xml += " date=\"" + entry.date + "\"";
    xml += ">\n<groups>";
    for (const QByteArray &group : entry.groups)
        xml += "<group>" + group + "</group>";
    xml += "</groups>\n<segments>\n";
    int number = 0;
    for (const QByteArray &segment : entry.segments)
        xml += "<segment bytes=\"100\" number=\"" + QByteArray::number(++number) + "\">" + segment + "</segment>\n";
    return xml + "</segments>\n</file>\n";
}

QByteArray nzbDocument(const QList<FileSpec> &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n";
    for (const FileSpec &file : files)
        xml += fileElement(file);
    return xml + "</nzb>\n";
}

QList<QByteArray> segmentIds(int count, const QByteArray &prefix = "seg")
{
    QList<QByteArray> ids;
    for (int i = 1; i <= count; ++i)
        ids << prefix + QByteArray::number(i) + "@example.invalid";
    return ids;
}

LoadOptions optionsAt(const QDateTime &now)
{
    LoadOptions options;
    options.now = now;
    return options;
}

const QDateTime kNow(QDate(2026, 12, 7), QTime(8, 0));

NzbLoadResult load(const QByteArray &bytes, const LoadOptions &options = optionsAt(kNow))
{
    return LoadNzbFromBytes(bytes, QStringLiteral("test.nzb"), options);
}

qint64 secondsAt(QDate date, QTime time)
{
    return QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
}

QByteArray readTestFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

// Everything a load shows but the path: the box, or summary, warning, group, rows and queue.
QStringList describe(const NzbLoadResult &result)
{
    if (!result.loaded())
        return QStringList{result.boxTitle()} + result.boxLines();
    const NzbModel &model = *result.model;
    QStringList lines = model.summary().logLines().mid(1) + result.warningLines;
    lines << model.groupName();
    for (int index = 1; index <= model.itemCount(); ++index)
        lines << model.item(index).name + u'\t' + model.item(index).partsText();
    for (qsizetype position = 1; position <= model.articleQueue().count(); ++position)
        lines << model.articleQueue().entry(position).text();
    return lines;
}

// The peak resident size since construction, over the size then (Linux: clear_refs resets the peak).
class PeakResidentGrowth
{
public:
    PeakResidentGrowth()
    {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        m_valid = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
        clear.close();
        m_start = kilobytes("VmRSS:");
        m_valid = m_valid && m_start > 0 && kilobytes("VmHWM:") - m_start < 1024;
    }
    bool valid() const { return m_valid; }
    qint64 bytes() const { return (kilobytes("VmHWM:") - m_start) * 1024; }

private:
    static qint64 kilobytes(const char *field)
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith(field))
                return line.mid(qstrlen(field)).trimmed().chopped(2).trimmed().toLongLong();
        return 0;
    }

    bool m_valid = false;
    qint64 m_start = 0;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

} // namespace

class TestNzbLoader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void summaryCountsAndRounding_data();
    void summaryCountsAndRounding();
    void percentUsesTheGivenDecimalSeparator();
    void postedDays_data();
    void postedDays();
    void buildsItemsAndQueueInDocumentOrder();
    void tableShowsTheItems();
    void trimsWhiteSpaceAndBracketsFromMessageIds();
    void takesTheGroupOfTheLastFileThatNamesOne();
    void namesOnlyShowsFileNames();
    void matchesElementsByNameUnderAnyDoctype_data();
    void matchesElementsByNameUnderAnyDoctype();
    void decodesPerDeclaration();
    void reportsParseErrors_data();
    void reportsParseErrors();
    void reportsFailures();
    void reportsUnreadableFiles();
    void neverExpandsOrFetchesEntities();
    void loadsEveryCorpusFileConsistently();
    void loadsGzipAsItsContent_data();
    void loadsGzipAsItsContent();
    void loadsCorpusFilesGzipped();
    void reportsDamagedGzip_data();
    void reportsDamagedGzip();
    void refusesWhatUnpacksBeyondTheLimit();
    void unpacksABombWithinTheLimitsMemory();
};

void TestNzbLoader::summaryCountsAndRounding_data()
{
    QTest::addColumn<QList<int>>("announced");
    QTest::addColumn<QList<int>>("listed");
    QTest::addColumn<QString>("missingLine");
    QTest::addColumn<QStringList>("warning");

    const auto warning = [](const char *missing, const char *percent) {
        return QStringList{
            QStringLiteral("NZB successfully loaded, but %1 of the required Message-ID's is/are missing from the NZB file. ").arg(QLatin1String(missing)),
            QString(),
            QStringLiteral("This means that at least %1% of the data can't be downloaded with this NZB file. ").arg(QLatin1String(percent)),
            QStringLiteral("The data wasn't fully uploaded, the poster is still busy with uploading or the NZB file "),
            QStringLiteral("is damaged."),
        };
    };
    QTest::newRow("48 of 50") << QList<int>{50} << QList<int>{48}
                              << QStringLiteral("Message-ID's missing from the NZB: 2 (4%)") << warning("2", "4");
    QTest::newRow("8 of 3x3") << QList<int>{3, 3, 3} << QList<int>{3, 3, 2}
                              << QStringLiteral("Message-ID's missing from the NZB: 1 (11.11%)") << warning("1", "11.11");
    QTest::newRow("complete") << QList<int>{2, 5} << QList<int>{2, 5}
                              << QStringLiteral("Message-ID's missing from the NZB: 0 (0%)") << QStringList();
    QTest::newRow("double just below the tie") << QList<int>{160} << QList<int>{137}
                                               << QStringLiteral("Message-ID's missing from the NZB: 23 (14.37%)")
                                               << warning("23", "14.37");
    QTest::newRow("exact tie rounds down to even") << QList<int>{800} << QList<int>{799}
                                                   << QStringLiteral("Message-ID's missing from the NZB: 1 (0.12%)")
                                                   << warning("1", "0.12");
    QTest::newRow("exact tie rounds up to even") << QList<int>{800} << QList<int>{797}
                                                 << QStringLiteral("Message-ID's missing from the NZB: 3 (0.38%)")
                                                 << warning("3", "0.38");
    QTest::newRow("one decimal") << QList<int>{8} << QList<int>{7}
                                 << QStringLiteral("Message-ID's missing from the NZB: 1 (12.5%)") << warning("1", "12.5");
    QTest::newRow("more listed than announced") << QList<int>{3} << QList<int>{4}
                                                << QStringLiteral("Message-ID's missing from the NZB: -1 (-33.33%)")
                                                << QStringList();
    QTest::newRow("nothing announced") << QList<int>{0, 0} << QList<int>{1, 1}
                                       << QStringLiteral("Message-ID's missing from the NZB: -2 (0%)") << QStringList();
    QTest::newRow("nothing at all") << QList<int>{0} << QList<int>{0}
                                    << QStringLiteral("Message-ID's missing from the NZB: 0 (0%)") << QStringList();
    QTest::newRow("sums beyond 32 bits") << QList<int>{2147483647, 2147483647} << QList<int>{1, 1}
                                         << QStringLiteral("Message-ID's missing from the NZB: 4294967292 (100%)")
                                         << warning("4294967292", "100");
}

void TestNzbLoader::summaryCountsAndRounding()
{
    QFETCH(QList<int>, announced);
    QFETCH(QList<int>, listed);
    QFETCH(QString, missingLine);
    QFETCH(QStringList, warning);

    QList<FileSpec> files;
    qint64 required = 0;
    qint64 found = 0;
    for (qsizetype i = 0; i < announced.size(); ++i) {
        files.append({"f" + QByteArray::number(i) + " yEnc (1/" + QByteArray::number(announced[i]) + ")", "1700000000",
                      {"alt.test"}, segmentIds(listed[i], "f" + QByteArray::number(i) + "s")});
        required += announced[i];
        found += listed[i];
    }
    const NzbLoadResult result = load(nzbDocument(files));
    QVERIFY(result.loaded());
    const LoadSummary &summary = result.model->summary();
    QCOMPARE(summary.lines[0], QStringLiteral("NZB file: test.nzb"));
    QCOMPARE(summary.lines[1], QStringLiteral("Files found: %1").arg(announced.size()));
    QCOMPARE(summary.lines[2], QStringLiteral("Message-ID's required: %1").arg(required));
    QCOMPARE(summary.lines[3], QStringLiteral("Message-ID's found: %1").arg(found));
    QCOMPARE(summary.lines[4], missingLine);
    QCOMPARE(result.warningLines, warning);
    QCOMPARE(summary.logLines().size(), 8);
    QCOMPARE(summary.logLines()[6], QString(64, u'-'));
    QCOMPARE(summary.logLines()[7], QString());
}

void TestNzbLoader::percentUsesTheGivenDecimalSeparator()
{
    LoadOptions options = optionsAt(kNow);
    options.decimalSeparator = u',';
    const NzbLoadResult result = load(nzbDocument({{"a (1/8)", "0", {}, segmentIds(7)}}), options);
    QCOMPARE(result.model->summary().lines[4], QStringLiteral("Message-ID's missing from the NZB: 1 (12,5%)"));
    QCOMPARE(result.warningLines[2],
             QStringLiteral("This means that at least 12,5% of the data can't be downloaded with this NZB file. "));
}

void TestNzbLoader::postedDays_data()
{
    QTest::addColumn<QList<QByteArray>>("dates");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("line");

    const QDate today(2026, 12, 7);
    const auto at = [](QDate date, QTime time) { return QByteArray::number(secondsAt(date, time)); };
    QTest::newRow("now itself") << QList<QByteArray>{at(today, QTime(8, 0))} << QDateTime(today, QTime(8, 0))
                                << QStringLiteral("The files were posted 0 day(s) ago.");
    QTest::newRow("late yesterday, early today") << QList<QByteArray>{at(today.addDays(-1), QTime(23, 59, 59))}
                                                 << QDateTime(today, QTime(0, 0, 1))
                                                 << QStringLiteral("The files were posted 1 day(s) ago.");
    QTest::newRow("last file counts") << QList<QByteArray>{at(today.addDays(-30), QTime(12, 0)), at(today.addDays(-2), QTime(12, 0))}
                                      << QDateTime(today, QTime(12, 0)) << QStringLiteral("The files were posted 2 day(s) ago.");
    QTest::newRow("last valid date counts") << QList<QByteArray>{at(today.addDays(-5), QTime(1, 0)), "soon", QByteArray()}
                                            << QDateTime(today, QTime(12, 0))
                                            << QStringLiteral("The files were posted 5 day(s) ago.");
    QTest::newRow("no valid date") << QList<QByteArray>{QByteArray(), "1.5e9", ""} << QDateTime(today, QTime(12, 0))
                                   << QStringLiteral("The files were posted ? day(s) ago.");
    QTest::newRow("blanks around the number") << QList<QByteArray>{" 86400 "} << QDateTime(QDate(1970, 1, 12), QTime(0, 0))
                                              << QStringLiteral("The files were posted 10 day(s) ago.");
    QTest::newRow("before 1970") << QList<QByteArray>{"-1"} << QDateTime(QDate(1970, 1, 1), QTime(0, 0))
                                 << QStringLiteral("The files were posted 1 day(s) ago.");
    QTest::newRow("beyond 32766 days") << QList<QByteArray>{QByteArray::number(86400LL * 40000)}
                                       << QDateTime(QDate(1970, 1, 1).addDays(40003), QTime(0, 0))
                                       << QStringLiteral("The files were posted 3 day(s) ago.");
    QTest::newRow("in the future") << QList<QByteArray>{at(today.addDays(3), QTime(0, 0))} << QDateTime(today, QTime(23, 0))
                                   << QStringLiteral("The files were posted -3 day(s) ago.");
}

void TestNzbLoader::postedDays()
{
    QFETCH(QList<QByteArray>, dates);
    QFETCH(QDateTime, now);
    QFETCH(QString, line);
    QList<FileSpec> files;
    for (const QByteArray &date : dates)
        files.append({"x (1/1)", date, {}, segmentIds(1)});
    const NzbLoadResult result = load(nzbDocument(files), optionsAt(now));
    QVERIFY(result.loaded());
    QCOMPARE(result.model->summary().lines[5], line);
}

void TestNzbLoader::buildsItemsAndQueueInDocumentOrder()
{
    const NzbLoadResult result = load(nzbDocument({
        {"first &quot;a.rar&quot; yEnc (1/3)", "1", {"alt.a"}, {"a1@x", "a2@x", "a3@x"}},
        {"empty (1/4)", "1", {}, {}},
        {"third (1/2)", "1", {}, {"c1@x", "c2@x"}},
    }));
    QVERIFY(result.loaded());
    const NzbModel &model = *result.model;
    QCOMPARE(model.itemCount(), 3);
    QCOMPARE(model.item(1).partsText(), QStringLiteral("3/3"));
    QCOMPARE(model.item(2).partsText(), QStringLiteral("0/4"));
    QCOMPARE(model.item(3).partsText(), QStringLiteral("2/2"));
    QCOMPARE(model.item(2).segmentCount, 0);
    QCOMPARE(model.item(1).status, ItemStatus::Queued);
    QCOMPARE(model.item(3).available, QStringLiteral("0"));

    QStringList entries;
    for (qsizetype position = 1; position <= model.articleQueue().count(); ++position)
        entries << model.articleQueue().entry(position).text();
    QCOMPARE(entries, (QStringList{"1*****a1@x", "1*****a2@x", "1*****a3@x", "3*****c1@x", "3*****c2@x"}));
    QCOMPARE(model.statistics().foundCount, 5);
    QCOMPARE(model.counters().answered.size(), size_t(4));
    QCOMPARE(model.counters().found.size(), size_t(4));
    QCOMPARE(model.counters().notFound.size(), size_t(4));
}

void TestNzbLoader::tableShowsTheItems()
{
    const NzbLoadResult result = load(nzbDocument({{"[1/1] - &quot;a.bin&quot; yEnc (1/2)", "1", {}, {"a@x"}}}));
    NzbModel &model = *result.model;
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("[1/1] - \"a.bin\" yEnc"));
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("1/2"));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("0"));

    model.setStatusIcons({QStringLiteral("queued"), QStringLiteral("checking"), QStringLiteral("available"),
                          QStringLiteral("missing")});
    QCOMPARE(model.data(model.index(0, 0), Qt::DecorationRole).toString(), QStringLiteral("queued"));
    model.setItemStatus(1, ItemStatus::Missing);
    model.setItemAvailable(1, QStringLiteral("1"));
    QCOMPARE(model.data(model.index(0, 0), Qt::DecorationRole).toString(), QStringLiteral("missing"));
    QCOMPARE(model.data(model.index(0, 0), NzbModel::StatusRole).toInt(), 4);
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("1"));
}

void TestNzbLoader::trimsWhiteSpaceAndBracketsFromMessageIds()
{
    const NzbLoadResult result = load(nzbDocument({{"x (1/5)", "1", {}, {
        "\n\t  plain@x  \r\n",
        "&lt;bracketed@x&gt;",
        "  &lt;spaced@x&gt;\n",
        "<![CDATA[cdata@x]]>",
        "&lt;only-open@x",
    }}}));
    QVERIFY(result.loaded());
    const ArticleQueue &queue = result.model->articleQueue();
    QCOMPARE(queue.count(), 5);
    QCOMPARE(queue.entry(1).messageId, QByteArrayView("plain@x"));
    QCOMPARE(queue.entry(2).messageId, QByteArrayView("bracketed@x"));
    QCOMPARE(queue.entry(3).messageId, QByteArrayView("spaced@x"));
    QCOMPARE(queue.entry(4).messageId, QByteArrayView("cdata@x"));
    QCOMPARE(queue.entry(5).messageId, QByteArrayView("<only-open@x"));
}

void TestNzbLoader::takesTheGroupOfTheLastFileThatNamesOne()
{
    const QByteArray withGroups = nzbDocument({
        {"a (1/1)", "1", {"alt.first", "alt.second"}, {"a@x"}},
        {"b (1/1)", "1", {" alt.third\n", "alt.fourth"}, {"b@x"}},
        {"c (1/1)", "1", {}, {"c@x"}},
    });
    QCOMPARE(load(withGroups).model->groupName(), QStringLiteral("alt.third"));

    LoadOptions options = optionsAt(kNow);
    options.previousGroupName = QStringLiteral("alt.before");
    QCOMPARE(load(nzbDocument({{"a (1/1)", "1", {}, {"a@x"}}}), options).model->groupName(),
             QStringLiteral("alt.before"));
    QCOMPARE(load(withGroups, options).model->groupName(), QStringLiteral("alt.third"));
}

void TestNzbLoader::namesOnlyShowsFileNames()
{
    const QByteArray bytes = nzbDocument({{"[3/9] - &quot;a.part1.rar&quot; yEnc (1/50)", "1", {}, {"a@x"}}});
    LoadOptions options = optionsAt(kNow);
    options.namesOnly = true;
    QCOMPARE(load(bytes, options).model->item(1).name, QStringLiteral("a.part1.rar"));
    QCOMPARE(load(bytes).model->item(1).name, QStringLiteral("[3/9] - \"a.part1.rar\" yEnc"));
}

void TestNzbLoader::matchesElementsByNameUnderAnyDoctype_data()
{
    QTest::addColumn<QByteArray>("prolog");
    QTest::addColumn<QByteArray>("root");
    QTest::newRow("no doctype, no namespace") << QByteArray() << QByteArray("<nzb>");
    QTest::newRow("0.9 doctype")
        << QByteArray(R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 0.9//EN" "http://www.newzbin.com/DTD/nzb/nzb-0.9.dtd">)")
        << QByteArray("<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">");
    QTest::newRow("1.0 doctype in lower case")
        << QByteArray(R"(<!doctype nzb public "-//newzbin//dtd nzb 1.0//en" "http://www.newzbin.com/dtd/nzb/nzb-1.0.dtd">)")
        << QByteArray("<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">");
    QTest::newRow("1.1 doctype stays and is skipped")
        << QByteArray(R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.1//EN" "http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd">)")
        << QByteArray("<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">");
    QTest::newRow("doctype with an internal subset")
        << QByteArray("<!DOCTYPE nzb [ <!ELEMENT nzb ANY> ]>") << QByteArray("<nzb>");
}

void TestNzbLoader::matchesElementsByNameUnderAnyDoctype()
{
    QFETCH(QByteArray, prolog);
    QFETCH(QByteArray, root);
    const QByteArray bytes = "<?xml version=\"1.0\"?>\n" + prolog + "\n" + root
                             + "<head/><file subject=\"a (1/2)\" date=\"1\"><segments><segment>a1@x</segment>"
                               "<segment>a2@x</segment></segments></file>"
                               "<wrapper><file subject=\"b (1/1)\"><segments><segment>b@x</segment></segments></file></wrapper>"
                               "</nzb>";
    const NzbLoadResult result = load(bytes);
    QVERIFY2(result.loaded(), qPrintable(result.boxLines().join(u'\n')));
    QCOMPARE(result.model->itemCount(), 2);
    QCOMPARE(result.model->articleQueue().count(), 3);
    QCOMPARE(result.model->articleQueue().entry(3).text(), QStringLiteral("2*****b@x"));
}

void TestNzbLoader::decodesPerDeclaration()
{
    const QByteArray latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><nzb><file subject=\"caf\xE9 \xAB\x31\xBB (1/1)\">"
                              "<segments><segment>a@x</segment></segments></file></nzb>";
    QCOMPARE(load(latin1).model->item(1).name, QString::fromUtf8("caf\xC3\xA9 \xC2\xAB" "1\xC2\xBB"));

    const QByteArray utf8 = "\xEF\xBB\xBF<nzb><file subject=\"\xE2\x80\x9C\xE6\x97\xA5\xE2\x80\x9D (1/1)\">"
                            "<segments><segment>a@x</segment></segments></file></nzb>";
    QCOMPARE(load(utf8).model->item(1).name, QString::fromUtf8("\xE2\x80\x9C\xE6\x97\xA5\xE2\x80\x9D"));

    const QByteArray cp1252 = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><nzb><file subject=\"\x93quoted\x94 \x80 (1/1)\">"
                              "<segments><segment>a@x</segment></segments></file></nzb>";
    QCOMPARE(load(cp1252).model->item(1).name, QString::fromUtf8("\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC"));
}

void TestNzbLoader::reportsParseErrors_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty file") << QByteArray() << 16 << 1 << QStringLiteral("No document element found");
    QTest::newRow("mismatched end tag, CR LF lines")
        << QByteArray("<?xml version=\"1.0\"?>\r\n<nzb>\r\n<file subject=\"a\">\r\n</nzb>\r\n") << 14 << 4
        << QStringLiteral("Start-end tags mismatch");
    QTest::newRow("after a removed doctype")
        << QByteArray("<?xml version=\"1.0\"?>\n"
                      R"(<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.0//EN" "http://www.newzbin.com/DTD/nzb/nzb-1.0.dtd">)"
                      "\n<nzb>\n<file subject=\"a\" subject=\"b\"/>\n<file subject=\"c></nzb>")
        << 12 << 5 << QStringLiteral("Error parsing element attribute");
    QTest::newRow("truncated") << QByteArray("<nzb>\n<file subject=\"a (1/1)\">\n<segments><segm") << 11 << 3
                               << QStringLiteral("Error parsing start element tag");
    QTest::newRow("invalid UTF-8 on line 3") << QByteArray("<nzb>\n<file\nsubject=\"caf\xE9\"/></nzb>") << 102 << 3
                                             << QStringLiteral("Byte 0xe9 is not valid UTF-8.");
    QTest::newRow("NUL byte") << QByteArray("<nzb>\n\n<file subject=\"a\0\"/></nzb>", 31) << 103 << 3
                              << QStringLiteral("The file contains a NUL character.");
}

void TestNzbLoader::reportsParseErrors()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, code);
    QFETCH(int, line);
    QFETCH(QString, reason);
    const NzbLoadResult result = load(bytes);
    QCOMPARE(result.kind, NzbLoadResult::Kind::ParseError);
    QVERIFY(!result.model);
    QCOMPARE(result.boxTitle(), QStringLiteral("Orvalis"));
    QCOMPARE(result.boxLines(), (QStringList{
        QStringLiteral("Error number: %1").arg(code),
        QStringLiteral("Error line: %1").arg(line),
        QStringLiteral("Error reason: ") + reason,
        QStringLiteral("Something is wrong with this NZB file and it can not be parsed."),
        QStringLiteral("Make sure you import a valid NZB/xml file."),
    }));
}

void TestNzbLoader::reportsFailures()
{
    const auto expectFailure = [](const NzbLoadResult &result, const QString &box) {
        QCOMPARE(result.kind, NzbLoadResult::Kind::Failure);
        QVERIFY(!result.model);
        QCOMPARE(result.boxTitle(), QStringLiteral("Error loading NZB"));
        QCOMPARE(result.boxLines(), QStringList{box});
    };
    expectFailure(LoadNzb(QStringLiteral("/nonexistent/missing.nzb"), optionsAt(kNow)),
                  QStringLiteral("53 - File not found"));
    expectFailure(load("<nzb><head/></nzb>"), QStringLiteral("1001 - The NZB file lists no files."));
    expectFailure(load("<nzb><file subject=\"a\"/><file date=\"1\"/></nzb>"),
                  QStringLiteral("1002 - File 2 of the NZB file has no subject."));

    QTemporaryDir dir;
    expectFailure(LoadNzb(dir.path(), optionsAt(kNow)),
                  QStringLiteral("75 - Path/File access error: the path names a folder"));
}

void TestNzbLoader::reportsUnreadableFiles()
{
    QTemporaryDir dir;
    const QString path = writeTestFile(dir, QStringLiteral("locked.nzb"), "<nzb/>");
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    if (QFile(path).open(QIODevice::ReadOnly))
        QSKIP("This user reads files without read permission (root).");
    const NzbLoadResult result = LoadNzb(path, optionsAt(kNow));
    QCOMPARE(result.boxLines(), QStringList{QStringLiteral("70 - Permission denied")});
}

void TestNzbLoader::neverExpandsOrFetchesEntities()
{
    QTemporaryDir dir;
    const QString secretPath = writeTestFile(dir, QStringLiteral("secret.txt"), "SECRET");

    QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE nzb [\n<!ENTITY lol \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        bomb += "<!ENTITY lol" + QByteArray::number(level) + " \"";
        for (int i = 0; i < 10; ++i)
            bomb += "&lol" + (level > 1 ? QByteArray::number(level - 1) : QByteArray()) + ";";
        bomb += "\">\n";
    }
    bomb += "<!ENTITY xxe SYSTEM \"file://" + secretPath.toUtf8() + "\">\n]>\n"
            "<nzb><file subject=\"&lol9; (1/1)\"><segments><segment>&xxe;</segment></segments></file></nzb>";
    const NzbLoadResult result = load(bomb);
    QVERIFY(result.loaded());
    QCOMPARE(result.model->item(1).name, QStringLiteral("&lol9;"));
    QCOMPARE(result.model->articleQueue().entry(1).messageId, QByteArrayView("&xxe;"));
}

void TestNzbLoader::loadsEveryCorpusFileConsistently()
{
    const QDir corpus(QStringLiteral(ORVALIS_CORPUS_DIR));
    const QStringList names = corpus.entryList({QStringLiteral("*.nzb"), QStringLiteral("*.nzb.gz")}, QDir::Files);
    if (names.isEmpty())
        QSKIP("The corpus of real NZB files is not present.");
    int loaded = 0;
    for (const QString &name : names) {
        const NzbLoadResult result = LoadNzb(corpus.filePath(name), optionsAt(kNow));
        if (!result.loaded())
            continue;
        ++loaded;
        const NzbModel &model = *result.model;
        qint64 segments = 0;
        for (int index = 1; index <= model.itemCount(); ++index)
            segments += model.item(index).segmentCount;
        QCOMPARE(segments, model.statistics().foundCount);
        QCOMPARE(qint64(model.articleQueue().count()), segments);
        // Entries of one item are contiguous and the indices ascend.
        int previous = 1;
        for (qsizetype position = 1; position <= model.articleQueue().count(); ++position) {
            const int index = model.articleQueue().entry(position).itemIndex;
            QVERIFY2(index >= previous && index <= model.itemCount(), qPrintable(name));
            previous = index;
        }
    }
    QVERIFY(loaded >= 10);
}

void TestNzbLoader::loadsGzipAsItsContent_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("name");

    const QByteArray sample = readTestFile(QStringLiteral(ORVALIS_TEST_DATA "/sample.nzb"));
    const qsizetype half = sample.indexOf("<segment ", sample.size() / 2) + 4; // inside a tag
    QTest::newRow("sample") << sample << gzipped(sample) << QStringLiteral("sample.nzb.gz");
    QTest::newRow("stored, not compressed") << sample << gzipped(sample, 0) << QStringLiteral("sample.nzb.gz");
    QTest::newRow("renamed without .gz") << sample << gzipped(sample, 9) << QStringLiteral("sample.nzb");
    QTest::newRow("two members, split inside a tag")
        << sample << gzipped(sample.left(half)) + gzipped(sample.mid(half)) << QStringLiteral("sample.nzb.gz");
    QTest::newRow("a member per byte, some empty") << sample << [&sample] {
        QByteArray file = gzipped(QByteArray());
        for (char c : sample)
            file += gzipped(QByteArray(1, c)) + gzipped(QByteArray());
        return file;
    }() << QStringLiteral("sample.nzb.gz");
    QTest::newRow("zero padding after the end")
        << sample << gzipped(sample) + QByteArray(512, '\0') << QStringLiteral("sample.nzb.gz");

    // Errors in the content give the same box, line numbers counted in the unpacked text.
    const QByteArray mismatch = "<?xml version=\"1.0\"?>\r\n<nzb>\r\n<file subject=\"a\">\r\n</nzb>\r\n";
    QTest::newRow("mismatched tag on line 4") << mismatch << gzipped(mismatch) << QStringLiteral("bad.nzb.gz");
    const QByteArray latin1 = "<nzb>\n\n\n<file\nsubject=\"caf\xE9\"/></nzb>";
    QTest::newRow("invalid UTF-8 on line 5") << latin1 << gzipped(latin1) << QStringLiteral("bad.nzb.gz");
    QTest::newRow("empty member") << QByteArray() << gzipped(QByteArray()) << QStringLiteral("empty.nzb.gz");
    QTest::newRow("empty file named .gz") << QByteArray() << QByteArray() << QStringLiteral("empty.nzb.gz");
    QTest::newRow("plain file named .gz") << sample << sample << QStringLiteral("plain.nzb.gz");
    QTest::newRow("no files listed") << QByteArray("<nzb/>") << gzipped("<nzb/>") << QStringLiteral("none.nzb.gz");
}

void TestNzbLoader::loadsGzipAsItsContent()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, file);
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString plainPath = writeTestFile(dir, QStringLiteral("plain.xml"), text);
    const QString packedPath = writeTestFile(dir, name, file);

    const NzbLoadResult plain = LoadNzb(plainPath, optionsAt(kNow));
    const NzbLoadResult packed = LoadNzb(packedPath, optionsAt(kNow));
    QCOMPARE(packed.kind, plain.kind);
    QCOMPARE(describe(packed), describe(plain));
    if (packed.loaded())
        QCOMPARE(packed.model->summary().lines[0], QStringLiteral("NZB file: ") + packedPath);
    QCOMPARE(describe(LoadNzbFromBytes(file, name, optionsAt(kNow))), describe(plain));
}

void TestNzbLoader::loadsCorpusFilesGzipped()
{
    const QDir corpus(QStringLiteral(ORVALIS_CORPUS_DIR));
    const QStringList names = corpus.entryList({QStringLiteral("*.nzb")}, QDir::Files);
    if (names.isEmpty())
        QSKIP("The corpus of real NZB files is not present.");
    for (const QString &name : names) {
        const QByteArray text = readTestFile(corpus.filePath(name));
        QCOMPARE(describe(load(gzipped(text))), describe(load(text)));
    }

    // Compressed by others; these were saved with CR LF line ends, their plain forms with LF.
    for (const char *name : {"ravencentric-nzb--big_buck_bunny.nzb", "ravencentric-nzb--spec_example.nzb"}) {
        const QString plain = corpus.filePath(QLatin1String(name));
        const NzbLoadResult packed = LoadNzb(plain + QStringLiteral(".gz"), optionsAt(kNow));
        QVERIFY2(packed.loaded(), name);
        QCOMPARE(describe(packed), describe(LoadNzb(plain, optionsAt(kNow))));
    }
    // Named .gz but plain XML: the bytes decide.
    QVERIFY(LoadNzb(corpus.filePath(QStringLiteral("ravencentric-nzb--invalid_gzipped_nzb.nzb.gz")), optionsAt(kNow))
                .loaded());
}

void TestNzbLoader::reportsDamagedGzip_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem");

    const QByteArray good = gzipped(nzbDocument({{"a (1/2)", "1", {"alt.a"}, segmentIds(2)}}));
    const auto changed = [&good](qsizetype at, char byte) {
        QByteArray file = good;
        file[at] = byte;
        return file;
    };
    const QString cut = QStringLiteral("it ends in the middle of the compressed data");
    QTest::newRow("cut in half") << good.left(good.size() / 2) << cut;
    QTest::newRow("last byte missing") << good.chopped(1) << cut;
    QTest::newRow("signature only") << QByteArray("\x1f\x8b") << cut;
    QTest::newRow("second member cut after one byte") << good + "\x1f" << cut;
    QTest::newRow("second member cut in half") << good + good.left(good.size() / 2) << cut;
    QTest::newRow("wrong CRC") << changed(good.size() - 8, char(good[good.size() - 8] ^ 1))
                               << QStringLiteral("incorrect data check");
    QTest::newRow("wrong length") << changed(good.size() - 4, char(good[good.size() - 4] ^ 1))
                                  << QStringLiteral("incorrect length check");
    QTest::newRow("invalid block type") << changed(10, char(good[10] | 0x06)) << QStringLiteral("invalid block type");
    QTest::newRow("unknown method") << changed(2, 7) << QStringLiteral("unknown compression method");
    QTest::newRow("text after the end") << good + "<nzb/>" << QStringLiteral("other data follows the compressed data");
    QTest::newRow("text after zero padding") << good + QByteArray(4, '\0') + "x"
                                             << QStringLiteral("other data follows the compressed data");
}

void TestNzbLoader::reportsDamagedGzip()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const NzbLoadResult result = LoadNzb(writeTestFile(dir, QStringLiteral("damaged.nzb.gz"), file), optionsAt(kNow));
    QVERIFY(!result.model);
    QCOMPARE(result.kind, NzbLoadResult::Kind::Failure);
    QCOMPARE(result.boxTitle(), QStringLiteral("Error loading NZB"));
    QCOMPARE(result.boxLines(), QStringList{QStringLiteral("1003 - The file is not a valid gzip file: ") + problem});
    QCOMPARE(describe(load(file)), describe(result));
}

void TestNzbLoader::refusesWhatUnpacksBeyondTheLimit()
{
    LoadOptions options = optionsAt(kNow);
    options.largestUnpacked = 1 << 20;
    QByteArray text = nzbDocument({{"a (1/1)", "1", {}, segmentIds(1)}});
    text += QByteArray(options.largestUnpacked - text.size(), '\n');

    QVERIFY(load(gzipped(text), options).loaded());
    const NzbLoadResult over = load(gzipped(text + "\n"), options);
    QCOMPARE(over.kind, NzbLoadResult::Kind::Failure);
    QCOMPARE(over.boxLines(), QStringList{QStringLiteral("1004 - The NZB file is too large: unpacked, it is over 1 MiB")});
    // Across members the content counts as a whole.
    QCOMPARE(describe(load(gzipped(text.left(1000)) + gzipped(text.mid(1000) + "\n"), options)), describe(over));

    options.largestUnpacked = 1000;
    QCOMPARE(load(gzipped(text), options).boxLines(),
             QStringList{QStringLiteral("1004 - The NZB file is too large: unpacked, it is over 1000 bytes")});
    // Bytes already in memory are not limited by it; a file is, before it is read.
    QVERIFY(load(text, options).loaded());
    QTemporaryDir dir;
    QVERIFY(LoadNzb(writeTestFile(dir, QStringLiteral("fits.nzb"), text.left(1000)), options).kind != NzbLoadResult::Kind::Failure);
    const QString tooLarge = QStringLiteral("1004 - The NZB file is too large: it is over 1000 bytes");
    QCOMPARE(LoadNzb(writeTestFile(dir, QStringLiteral("over.nzb"), text.left(1001)), options).boxLines(), QStringList{tooLarge});
    // A device without end, and a pipe, are read piece by piece up to the limit.
    QCOMPARE(LoadNzb(QStringLiteral("/dev/zero"), options).boxLines(), QStringList{tooLarge});
    const QString fifo = dir.filePath(QStringLiteral("pipe.nzb"));
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    options.largestUnpacked = 1 << 20;
    std::thread writer([&fifo, &text] {
        QFile pipe(fifo);
        if (pipe.open(QIODevice::WriteOnly))
            pipe.write(text);
    });
    const NzbLoadResult piped = LoadNzb(fifo, options);
    writer.join();
    QCOMPARE(describe(piped), describe(load(text, options)));
}

void TestNzbLoader::unpacksABombWithinTheLimitsMemory()
{
    // 4 GiB of spaces in 4 MB: one 16 MiB member again and again.
    const QByteArray member = GzipWriter(9).add(QByteArray(1 << 20, ' '), 16).finish();
    QByteArray bomb;
    for (int i = 0; i < 256; ++i)
        bomb += member;
    constexpr qsizetype kLimit = qsizetype(64) << 20;

    const PeakResidentGrowth peak;
    const gzip::Unpacked unpacked = gzip::unpack(bomb, kLimit);
    QCOMPARE(unpacked.status, gzip::Unpacked::Status::TooLarge);
    QVERIFY(unpacked.text.isEmpty());
    if (!kSanitized && peak.valid())
        QVERIFY2(peak.bytes() < 2 * kLimit, qPrintable(QString::number(peak.bytes())));

    // Just within the limit the content is whole.
    const gzip::Unpacked fits = gzip::unpack(member + member + member + member, kLimit);
    QCOMPARE(fits.status, gzip::Unpacked::Status::Ok);
    QCOMPARE(fits.text.size(), kLimit);
    QVERIFY(fits.text.count(' ') == kLimit);
    QCOMPARE(gzip::unpack(member + member + member + member + gzipped(" "), kLimit).status,
             gzip::Unpacked::Status::TooLarge);
}

QTEST_GUILESS_MAIN(TestNzbLoader)
#include "tst_nzbloader.moc"
