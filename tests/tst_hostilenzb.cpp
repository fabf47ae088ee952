#include "nzb/GzipReader.h"
#include "nzb/NzbLoader.h"

#include "GzipBytes.h"
#include "TestFiles.h"

#include <QTest>

#ifdef __GLIBC__
#include <malloc.h>
#endif

// Defined by AddressSanitizer's runtime, whichever compiler built the tests.
extern "C" void __asan_init() __attribute__((weak));

namespace {

// The big cases are divided by ORVALIS_HOSTILE_NZB_SCALE (default 1), for slow runs under valgrind.
const int kScale = qMax(1, qEnvironmentVariableIntValue("ORVALIS_HOSTILE_NZB_SCALE"));
constexpr qsizetype kMegabyte = 1 << 20;

LoadOptions options(bool namesOnly = false)
{
    LoadOptions result;
    result.namesOnly = namesOnly;
    result.now = QDateTime(QDate(2026, 12, 7), QTime(8, 0));
    return result;
}

qint64 statusKilobytes(const char *field)
{
    for (const QByteArray &line : readBytes(QStringLiteral("/proc/self/status"), {}).split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().chopped(2).trimmed().toLongLong();
    return 0;
}

// The growth of the peak resident size since construction, in bytes: writing "5" to clear_refs sets the
// peak back to the current size, after freed heap went back to the system, or reusing it would hide growth.
// 0 where it means nothing: a sanitizer's shadow memory, a reduced scale, no reset.
class PeakGrowth
{
public:
    PeakGrowth()
    {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        m_valid = !__asan_init && kScale == 1 && clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
        clear.close();
        m_start = statusKilobytes("VmRSS:");
        m_valid = m_valid && m_start > 0 && statusKilobytes("VmHWM:") - m_start < 1024;
    }
    qint64 bytes() const { return m_valid ? (statusKilobytes("VmHWM:") - m_start) * 1024 : 0; }

private:
    bool m_valid = false;
    qint64 m_start = 0;
};

QByteArray segmentId(int file, int segment)
{
    // Hex digits of a mixed value stand in for the random part of real message-IDs.
    const quint64 mixed = (quint64(file) * 0x9E3779B97F4A7C15ULL) ^ (quint64(segment) * 0xC2B2AE3D27D4EB4FULL);
    return "part" + QByteArray::number(segment) + ".f" + QByteArray::number(file) + "." + QByteArray::number(mixed, 16) + "@news.example-host.invalid";
}

// The group | the posted days | per row: subject cell TAB file-name cell TAB parts | the queue;
// or the error's number, line and reason.
QString shown(const QByteArray &bytes)
{
    const NzbLoadResult result = LoadNzbFromBytes(bytes, QStringLiteral("hostile.nzb"), options());
    if (!result.loaded())
        return QStringLiteral("%1 at line %2: %3").arg(result.errorNumber).arg(result.errorLine).arg(result.errorReason);
    const NzbLoadResult names = LoadNzbFromBytes(bytes, QStringLiteral("hostile.nzb"), options(true));
    const NzbModel &model = *result.model;
    QStringList parts{model.groupName(), model.summary().lines[5].section(u' ', 4, 4)};
    for (int index = 1; index <= model.itemCount(); ++index)
        parts << model.item(index).name + u'\t' + names.model->item(index).name + u'\t' + model.item(index).partsText();
    for (qsizetype position = 1; position <= model.articleQueue().count(); ++position)
        parts << model.articleQueue().entry(position).text();
    return folded(parts.join(QLatin1String(" | ")));
}

} // namespace

class TestHostileNzb : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // First, while little else of the process's memory has been touched. Every row and entry is
    // compared, in order: nothing lost, nothing moved.
    void boundsTheMemoryOfLargeFiles_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("segments"); // per file; the last file announces two more
        QTest::addColumn<double>("factor"); // of the peak's growth over the file's size

        QTest::newRow("100 MB: 2,000 files of 500 segments") << 2000 << 500 << 4.0;
        QTest::newRow("a million segments in one file") << 1 << 1000000 << 4.5;
        QTest::newRow("a million files without segments") << 1000000 << 0 << 8.0;
    }

    void boundsTheMemoryOfLargeFiles()
    {
        QFETCH(int, files);
        QFETCH(int, segments);
        QFETCH(double, factor);
        (files > segments ? files : segments) /= kScale;
        QTemporaryDir dir;
        const qint64 posted = QDateTime(QDate(2026, 11, 7), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
        qint64 size = 0;
        QString path;
        {
            QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                             "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" \"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">\n"
                             "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n<head><meta type=\"title\">big</meta></head>\n";
            for (int file = 1; file <= files; ++file) {
                xml += "<file date=\"" + QByteArray::number(posted + file % 1000) + "\" subject=\"f" + QByteArray::number(file)
                       + " yEnc (1/" + QByteArray::number(segments + (file == files ? 2 : 0)) + ")\">"
                       + (file == files ? "<groups><group>alt.last</group></groups>" : "") + "<segments>\n";
                for (int segment = 1; segment <= segments; ++segment)
                    xml += "<segment bytes=\"" + QByteArray::number(716800 + segment) + "\" number=\"" + QByteArray::number(segment) + "\">" + segmentId(file, segment) + "</segment>\n";
                xml += "</segments></file>\n";
            }
            path = writeTestFile(dir, QStringLiteral("big.nzb"), xml + "</nzb>\n");
            size = xml.size();
        }
        const PeakGrowth peak;
        const NzbLoadResult result = LoadNzb(path, options());
        qInfo("input %lld bytes, peak growth %lld bytes (%.2fx)", size, peak.bytes(), double(peak.bytes()) / double(size));
        QVERIFY2(peak.bytes() < qint64(double(size) * factor), qPrintable(QStringLiteral("%1 for %2").arg(peak.bytes()).arg(size)));
        QVERIFY(result.loaded());

        const NzbModel &model = *result.model;
        const qint64 listed = qint64(files) * segments;
        const auto &lines = model.summary().lines;
        QCOMPARE(QStringList({lines[1], lines[2], lines[3], lines[5], model.groupName()}).join(u'|'),
                 QStringLiteral("Files found: %1|Message-ID's required: %2|Message-ID's found: %3|The files were posted 30 day(s) "
                                "ago.|alt.last").arg(files).arg(listed + 2).arg(listed));
        QCOMPARE(model.articleQueue().count(), listed);
        qsizetype position = 0;
        for (int file = 1; file <= files; ++file) {
            bool same = model.item(file).name == QStringLiteral("f%1 yEnc").arg(file) && model.item(file).segmentCount == segments;
            for (int segment = 1; same && segment <= segments; ++segment) {
                const QueueEntry entry = model.articleQueue().entry(++position);
                same = entry.itemIndex == file && entry.messageId == segmentId(file, segment);
            }
            if (!same)
                QFAIL(qPrintable(QStringLiteral("file %1 differs by entry %2").arg(file).arg(position)));
        }
    }

    // What is refused for its size is never held: a plain file over the bound is not read, and
    // unpacking 4 GiB of blanks from 4 MB stops at the bound.
    void boundsTheMemoryOfWhatItRefuses()
    {
        QTemporaryDir dir;
        QFile huge(dir.filePath(QStringLiteral("huge.nzb")));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(kLargestUnpackedNzb + 1));
        huge.close();
        const QByteArray bomb = gzipped(QByteArray(16 * kMegabyte, ' '), 9).repeated(256);
        LoadOptions bounded = options();
        const PeakGrowth peak;
        QCOMPARE(LoadNzb(huge.fileName(), bounded).boxLines(), QStringList{QStringLiteral("1004 - The NZB file is too large: it is over 1024 MiB")});
        bounded.largestUnpacked = 64 * kMegabyte;
        QCOMPARE(LoadNzbFromBytes(bomb, QStringLiteral("bomb.nzb.gz"), bounded).boxLines(),
                 QStringList{QStringLiteral("1004 - The NZB file is too large: unpacked, it is over 64 MiB")});
        QVERIFY2(peak.bytes() < 2 * bounded.largestUnpacked, qPrintable(QString::number(peak.bytes())));
    }

    // Megabyte fields, deep nesting and absurd values: each loads as exactly what it says, or fails clearly.
    void takesHostileShapes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *tag, const QByteArray &bytes, const QString &shown) { QTest::newRow(tag) << bytes << shown; };
        const QByteArray mb(kMegabyte, 'a');
        const QByteArray emoji = "\xF0\x9F\x98\x80"; // a surrogate pair in UTF-16, never to be split
        const auto files = [](const QList<QByteArray> &subjects) {
            QByteArray xml = "<nzb>";
            for (const QByteArray &subject : subjects)
                xml += "<file subject=\"" + subject + "\"><segments><segment>id@x</segment></segments></file>";
            return xml + "</nzb>";
        };
        row("megabyte subjects", files({QByteArray(kMegabyte, '('), "x (1/" + QByteArray(kMegabyte, '9') + ")", QByteArray(kMegabyte, ']'),
                                        QByteArray("&quot;").repeated(kMegabyte) + " (1/1)", emoji.repeated(kMegabyte / 4) + " (1/1)"}),
            QString::fromUtf8(" | ? | ({1048574}\t({85}\t1/0 | x\tx\t1/0 | ]{1048576}\t\t1/0 | \"{1048576}\t\t1/1 | " + emoji + "{262144}\t" + emoji
                              + "{85}\t1/1 | 1*****id@x | 2*****id@x | 3*****id@x | 4*****id@x | 5*****id@x"));
        row("megabyte message-ID, group, date and names", "<nzb><" + mb + "><file " + mb + "=\"\" subject=\"s\" date=\"" + QByteArray(kMegabyte, '7')
                + "\"><groups><group>" + mb + "</group></groups><segments><segment>\n &lt;" + mb + "&gt;\t</segment></segments></file></" + mb
                + "></nzb>", "a{1048576} | ? | s\ts\t1/0 | 1*****a{1048576}");

        const QByteArray open = QByteArray("<a>").repeated(100000);
        const QByteArray close = QByteArray("</a>").repeated(100000);
        const QByteArray segments = "<segments><segment>a@x</segment><segment>b@x</segment></segments>";
        const QByteArray file = "<file subject=\"f (1/2)\">" + segments + "</file>";
        const QByteArray deep = "<file subject=\"f (1/2)\">" + open + segments + close + "</file>"; // not the file's own segments
        row("nested a million levels around the root", QByteArray("<a>").repeated(1000000) + "<nzb>" + file + "</nzb>" + close.repeated(10), " | ? | f\tf\t2/2 | 1*****a@x | 1*****b@x");
        row("nested around a file, between a file and its segments, between segments, inside a segment",
            "<nzb>" + open + file + close + deep + "<file subject=\"f (1/2)\"><segments><segment>a@x</segment>" + open
                + "<segment>deep@x</segment>" + close + "<segment>b@x</segment><segment>" + open + "in@x" + close
                + "</segment><segment>" + QByteArray("<a>x").repeated(100000) + close + "</segment></segments></file></nzb>",
            " | ? | f\tf\t2/2 | f\tf\t0/2 | f\tf\t4/2 | 1*****a@x | 1*****b@x | 3*****a@x | 3*****b@x | 3*****in@x | 3*****x{100000}");
        row("never closed", "<nzb>" + file + "\n" + open, "14 at line 2: Start-end tags mismatch");
        // A file inside each file: every level is a row of its own, in document order.
        QByteArray nested = "<nzb>";
        QString entries;
        for (int level = 1; level <= 100000; ++level) {
            nested += "<file subject=\"f (1/1)\"><segments><segment>" + QByteArray::number(level) + "@x</segment></segments>";
            entries += QStringLiteral(" | %1*****%1@x").arg(level);
        }
        row("files inside files", nested + QByteArray("</file>").repeated(100000) + "</nzb>", " | ?" + QStringLiteral(" | f\tf\t1/1").repeated(100000) + entries);
        // Segment numbers and sizes are trusted for nothing: every segment is kept.
        QByteArray absurd;
        for (const QByteArray &value : {QByteArray("-1"), QByteArray("18446744073709551616"), QByteArray(1000, '9'), QByteArray(),
                                       QByteArray("0x7fffffff"), QByteArray("2.5"), QByteArray("  2  "), QByteArray("&#50;"), QByteArray("\xD9\xA2")})
            absurd += "<segment bytes=\"" + value + "\" number=\"" + value + "\">i@x</segment>";
        row("absurd segment numbers and sizes", "<nzb><file subject=\"f\"><segments>" + absurd + "</segments></file></nzb>",
            " | ? | f\tf\t9/0" + QStringLiteral(" | 1*****i@x").repeated(9));
    }

    void takesHostileShapes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString actual = ::shown(bytes);
        // Megabytes are not printed when they differ.
        const qsizetype at = std::mismatch(actual.begin(), actual.end(), shown.begin(), shown.end()).first - actual.begin();
        QVERIFY2(actual == shown, qPrintable(QStringLiteral("from %1 on: \"%2\" instead of \"%3\"").arg(at).arg(actual.mid(at, 80), shown.mid(at, 80))));
    }
};

QTEST_GUILESS_MAIN(TestHostileNzb)
#include "tst_hostilenzb.moc"
