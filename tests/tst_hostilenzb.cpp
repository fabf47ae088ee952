#include "nzb/NzbLoader.h"

#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ORVALIS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVALIS_ASAN 1
#endif
#endif

namespace {

const QDateTime kNow(QDate(2026, 12, 7), QTime(8, 0));

// The big cases are divided by ORVALIS_HOSTILE_NZB_SCALE (default 1), for slow runs under valgrind.
int scaleDivisor()
{
    static const int divisor = qMax(1, qEnvironmentVariableIntValue("ORVALIS_HOSTILE_NZB_SCALE"));
    return divisor;
}

int scaled(int count)
{
    return qMax(1, count / scaleDivisor());
}

// Memory figures only mean something at full size and without a sanitizer's shadow memory.
bool measuresMemory()
{
#ifdef ORVALIS_ASAN
    return false;
#else
    return scaleDivisor() == 1;
#endif
}

LoadOptions options(bool namesOnly = false)
{
    LoadOptions result;
    result.now = kNow;
    result.namesOnly = namesOnly;
    return result;
}

NzbLoadResult load(const QByteArray &bytes, bool namesOnly = false)
{
    return LoadNzbFromBytes(bytes, QStringLiteral("hostile.nzb"), options(namesOnly));
}

QString describe(const NzbLoadResult &result)
{
    return result.loaded() ? QStringLiteral("loaded") : result.boxLines().join(u'\n');
}

std::optional<qint64> statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().chopped(2).trimmed().toLongLong();
    }
    return std::nullopt;
}

// The growth of the peak resident size over the resident size at construction. Writing "5"
// to clear_refs sets the peak back to the current size, so earlier tests do not count; freed
// heap goes back to the system first, or reusing it would hide part of the growth.
class PeakGrowth
{
public:
    PeakGrowth()
    {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        m_valid = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
        clear.close();
        const auto rss = statusKilobytes("VmRSS:");
        const auto peak = statusKilobytes("VmHWM:");
        // The peak must have come down to the current size, or the reset did not happen.
        m_valid = m_valid && rss && peak && *peak - *rss < 1024;
        m_startKilobytes = rss.value_or(0);
    }

    bool valid() const { return m_valid; }
    qint64 bytes() const { return (statusKilobytes("VmHWM:").value_or(0) - m_startKilobytes) * 1024; }

private:
    bool m_valid = false;
    qint64 m_startKilobytes = 0;
};

void expectPeakBelow(const PeakGrowth &peak, qint64 inputBytes, double factor)
{
    if (!measuresMemory())
        return;
    if (!peak.valid())
        QSKIP("This kernel does not reset the peak resident size through /proc/self/clear_refs.");
    const qint64 growth = peak.bytes();
    qInfo("input %lld bytes, peak growth %lld bytes (%.2fx)", inputBytes, growth, double(growth) / double(inputBytes));
    QVERIFY2(growth < qint64(double(inputBytes) * factor),
             qPrintable(QStringLiteral("peak grew by %1 bytes for %2 bytes of input").arg(growth).arg(inputBytes)));
}

// Writes a file in chunks, so generating a big NZB never holds it whole.
class ChunkedWriter
{
public:
    explicit ChunkedWriter(const QString &path)
        : m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        m_chunk.reserve(kChunk + 4096);
    }

    ChunkedWriter &operator<<(QByteArrayView bytes)
    {
        m_chunk.append(bytes);
        if (m_chunk.size() >= kChunk)
            flush();
        return *this;
    }

    qint64 finish()
    {
        flush();
        m_file.close();
        return m_written;
    }

private:
    void flush()
    {
        if (m_file.write(m_chunk) != m_chunk.size())
            qFatal("cannot write %s", qPrintable(m_file.fileName()));
        m_written += m_chunk.size();
        m_chunk.clear();
    }

    static constexpr qsizetype kChunk = 1 << 20;
    QFile m_file;
    QByteArray m_chunk;
    qint64 m_written = 0;
};

// Compares long texts without printing megabytes when they differ.
bool sameText(QStringView actual, QStringView expected, QByteArray &why)
{
    if (actual == expected)
        return true;
    qsizetype at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    why = QStringLiteral("%1 UTF-16 units, expected %2; they differ from %3: \"%4\" instead of \"%5\"")
              .arg(actual.size())
              .arg(expected.size())
              .arg(at)
              .arg(actual.mid(at, 40).toString(), expected.mid(at, 40).toString())
              .toUtf8();
    return false;
}

#define COMPARE_TEXT(actual, expected)                                                                                 \
    do {                                                                                                               \
        QByteArray why_;                                                                                               \
        QVERIFY2(sameText((actual), (expected), why_), why_.constData());                                              \
    } while (false)

QByteArray repeated(QByteArrayView piece, qsizetype times)
{
    QByteArray result;
    result.reserve(piece.size() * times);
    for (qsizetype i = 0; i < times; ++i)
        result.append(piece);
    return result;
}

constexpr qsizetype kMegabyte = 1 << 20;

// --- the 100 MB file ---

constexpr int kBigFiles = 2000;
constexpr int kBigSegments = 500; // per file; the last file announces two more than it lists

QByteArray bigSegmentId(int file, int segment)
{
    // Hex digits of a mixed value stand in for the random part of real message-IDs.
    const quint64 mixed = (quint64(file) * 0x9E3779B97F4A7C15ULL) ^ (quint64(segment) * 0xC2B2AE3D27D4EB4FULL);
    return "part" + QByteArray::number(segment) + "of" + QByteArray::number(kBigSegments) + ".f"
           + QByteArray::number(file) + "." + QByteArray::number(mixed, 16) + "@news.example.invalid";
}

QByteArray bigSubject(int file, int files)
{
    return "[" + QByteArray::number(file) + "/" + QByteArray::number(files) + "] - \"big.part"
           + QByteArray::number(file) + ".rar\" yEnc";
}

// --- a million segments in one file ---

constexpr int kOneFileSegments = 1000000;

QByteArray oneFileSegmentId(int segment)
{
    return "s" + QByteArray::number(segment) + "@one.example.invalid";
}

// --- megabyte fields ---

struct OneFile {
    QByteArray subject = "s yEnc (1/1)";
    QByteArray attributes = " date=\"1796385600\""; // 2026-12-04 12:00 UTC
    QByteArray group = "alt.test";
    QByteArray segment = "id@x";
    QByteArray around; // an element name wrapped around the file
};

QByteArray document(const OneFile &file)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<nzb>\n";
    if (!file.around.isEmpty())
        xml += "<" + file.around + ">";
    xml += "<file poster=\"p@x\" subject=\"" + file.subject + "\"" + file.attributes + ">\n<groups><group>" + file.group
           + "</group></groups>\n<segments><segment bytes=\"1\" number=\"1\">" + file.segment
           + "</segment></segments>\n</file>";
    if (!file.around.isEmpty())
        xml += "</" + file.around + ">";
    return xml + "\n</nzb>\n";
}

} // namespace

class TestHostileNzb : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The big cases come first, while little else of the process's memory has been touched.
    void loadsAHundredMegabyteFile();
    void loadsAMillionSegmentsInOneFile();
    void loadsAMillionFilesWithoutContent_data();
    void loadsAMillionFilesWithoutContent();
    void takesMegabyteFields_data();
    void takesMegabyteFields();
    void survivesDeepNesting_data();
    void survivesDeepNesting();
    void keepsSegmentsWithAbsurdAttributes_data();
    void keepsSegmentsWithAbsurdAttributes();
};

void TestHostileNzb::loadsAHundredMegabyteFile()
{
    const int files = scaled(kBigFiles);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.nzb"));
    const qint64 posted = QDateTime(QDate(2026, 11, 7), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
    qint64 size = 0;
    {
        ChunkedWriter out(path);
        out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" \"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">\n"
               "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n<head><meta type=\"title\">big</meta></head>\n";
        for (int file = 1; file <= files; ++file) {
            QByteArray subject = bigSubject(file, files).replace("\"", "&quot;");
            const int announced = kBigSegments + (file == files ? 2 : 0);
            out << "<file poster=\"poster@example.invalid\" date=\"" << QByteArray::number(posted + file)
                << "\" subject=\"" << subject << " (1/" << QByteArray::number(announced) << ")\">\n"
                << "<groups>\n<group>alt.binaries.test.f" << QByteArray::number(file) << "</group>\n</groups>\n<segments>\n";
            for (int segment = 1; segment <= kBigSegments; ++segment)
                out << "<segment bytes=\"" << QByteArray::number(716800 + segment) << "\" number=\""
                    << QByteArray::number(segment) << "\">" << bigSegmentId(file, segment) << "</segment>\n";
            out << "</segments>\n</file>\n";
        }
        out << "</nzb>\n";
        size = out.finish();
    }
    if (scaleDivisor() == 1)
        QVERIFY(size > 100000000);

    const PeakGrowth peak;
    const NzbLoadResult result = LoadNzb(path, options());
    QVERIFY2(result.loaded(), qPrintable(describe(result)));
    expectPeakBelow(peak, size, 4.0);

    const NzbModel &model = *result.model;
    const qint64 segments = qint64(files) * kBigSegments;
    QCOMPARE(model.itemCount(), files);
    QCOMPARE(model.rowCount(), files);
    QCOMPARE(model.articleQueue().count(), segments);
    QCOMPARE(model.groupName(), QStringLiteral("alt.binaries.test.f%1").arg(files));
    const LoadSummary &summary = model.summary();
    QCOMPARE(QStringList(summary.lines.begin(), summary.lines.end()), (QStringList{
        QStringLiteral("NZB file: ") + path,
        QStringLiteral("Files found: %1").arg(files),
        QStringLiteral("Message-ID's required: %1").arg(segments + 2),
        QStringLiteral("Message-ID's found: %1").arg(segments),
        QStringLiteral("Message-ID's missing from the NZB: 2 (0%)"),
        QStringLiteral("The files were posted 30 day(s) ago."),
    }));
    QCOMPARE(result.warningLines.value(0),
             QStringLiteral("NZB successfully loaded, but 2 of the required Message-ID's is/are missing from the NZB file. "));

    for (int file = 1; file <= files; ++file) {
        const NzbItem &item = model.item(file);
        QCOMPARE(item.name, QString::fromLatin1(bigSubject(file, files)));
        QCOMPARE(item.segmentCount, kBigSegments);
    }
    QCOMPARE(model.data(model.index(files - 1, NzbModel::PartsColumn)).toString(),
             QStringLiteral("%1/%2").arg(kBigSegments).arg(kBigSegments + 2));

    // Every entry, in order: nothing lost, nothing moved.
    qsizetype position = 0;
    for (int file = 1; file <= files; ++file) {
        for (int segment = 1; segment <= kBigSegments; ++segment) {
            const QueueEntry entry = model.articleQueue().entry(++position);
            if (entry.itemIndex != file || entry.messageId != bigSegmentId(file, segment))
                QFAIL(qPrintable(QStringLiteral("entry %1 is %2").arg(position).arg(entry.text())));
        }
    }
}

void TestHostileNzb::loadsAMillionSegmentsInOneFile()
{
    const int segments = scaled(kOneFileSegments);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("one.nzb"));
    qint64 size = 0;
    {
        ChunkedWriter out(path);
        out << "<?xml version=\"1.0\"?>\n<nzb>\n<file poster=\"p@x\" date=\"1796385600\" subject=\"one.bin yEnc (1/"
            << QByteArray::number(segments) << ")\">\n<groups><group>alt.one</group></groups>\n<segments>\n";
        for (int segment = 1; segment <= segments; ++segment)
            out << "<segment bytes=\"768000\" number=\"" << QByteArray::number(segment) << "\">"
                << oneFileSegmentId(segment) << "</segment>\n";
        out << "</segments>\n</file>\n</nzb>\n";
        size = out.finish();
    }

    const PeakGrowth peak;
    const NzbLoadResult result = LoadNzb(path, options());
    QVERIFY2(result.loaded(), qPrintable(describe(result)));
    expectPeakBelow(peak, size, 4.5);

    const NzbModel &model = *result.model;
    QCOMPARE(model.itemCount(), 1);
    QCOMPARE(model.item(1).segmentCount, segments);
    QCOMPARE(model.item(1).announced, segments);
    QCOMPARE(model.data(model.index(0, NzbModel::SubjectColumn)).toString(), QStringLiteral("one.bin yEnc"));
    QCOMPARE(model.data(model.index(0, NzbModel::PartsColumn)).toString(), QStringLiteral("%1/%1").arg(segments));
    QCOMPARE(model.summary().lines[3], QStringLiteral("Message-ID's found: %1").arg(segments));
    QVERIFY(result.warningLines.isEmpty());

    const ArticleQueue &queue = model.articleQueue();
    QCOMPARE(queue.count(), qsizetype(segments));
    QCOMPARE(queue.entry(1).text(), QStringLiteral("1*****s1@one.example.invalid"));
    QCOMPARE(queue.entry(segments / 2 + 1).text(),
             QStringLiteral("1*****s%1@one.example.invalid").arg(segments / 2 + 1));
    QCOMPARE(queue.entry(segments).text(), QStringLiteral("1*****s%1@one.example.invalid").arg(segments));
    for (int segment = 1; segment <= segments; ++segment) {
        const QueueEntry entry = queue.entry(segment);
        if (entry.itemIndex != 1 || entry.messageId != oneFileSegmentId(segment))
            QFAIL(qPrintable(QStringLiteral("entry %1 is %2").arg(segment).arg(entry.text())));
    }
}

void TestHostileNzb::loadsAMillionFilesWithoutContent_data()
{
    QTest::addColumn<QByteArray>("element"); // repeated a million times
    QTest::addColumn<QByteArray>("last");    // and then this one
    QTest::addColumn<QString>("outcome");    // the failure's box line, or the required count's line

    QTest::newRow("empty subjects") << QByteArray("<file subject=\"\"/>\n") << QByteArray()
                                    << QStringLiteral("Message-ID's required: 0");
    QTest::newRow("empty groups and segments") << QByteArray("<file subject=\"x (1/3)\"><groups/><segments/></file>\n")
                                               << QByteArray() << QStringLiteral("Message-ID's required: %1");
    QTest::newRow("no attributes at all") << QByteArray("<file/>\n") << QByteArray()
                                          << QStringLiteral("1002 - File 1 of the NZB file has no subject.");
    QTest::newRow("only the last has no subject")
        << QByteArray("<file subject=\"x\" date=\"\"/>\n") << QByteArray("<file date=\"1\"></file>\n")
        << QStringLiteral("1002 - File %1 of the NZB file has no subject.");
}

// Files of nothing but a subject still make a row each; one without a subject fails the load
// and names the right file.
void TestHostileNzb::loadsAMillionFilesWithoutContent()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, last);
    QFETCH(QString, outcome);
    const int count = scaled(1000000);
    QByteArray bytes = "<nzb>\n" + repeated(element, count) + last + "</nzb>\n";
    const int files = count + (last.isEmpty() ? 0 : 1);
    if (outcome.contains(u'%'))
        outcome = outcome.arg(element.contains("(1/3)") ? qint64(count) * 3 : qint64(files));

    const PeakGrowth peak;
    const NzbLoadResult result = load(bytes);
    expectPeakBelow(peak, bytes.size(), 100);
    if (outcome.startsWith(QLatin1String("1002"))) {
        QCOMPARE(result.kind, NzbLoadResult::Kind::Failure);
        QCOMPARE(result.boxLines(), QStringList{outcome});
        return;
    }
    QVERIFY2(result.loaded(), qPrintable(describe(result)));
    const NzbModel &model = *result.model;
    QCOMPARE(model.itemCount(), files);
    QCOMPARE(model.articleQueue().count(), 0);
    QCOMPARE(model.summary().lines[1], QStringLiteral("Files found: %1").arg(files));
    QCOMPARE(model.summary().lines[2], outcome);
    QCOMPARE(model.summary().lines[3], QStringLiteral("Message-ID's found: 0"));
    QCOMPARE(model.summary().lines[5], QStringLiteral("The files were posted ? day(s) ago."));
    QCOMPARE(model.item(files).segmentCount, 0);
    QCOMPARE(model.data(model.index(files - 1, NzbModel::PartsColumn)).toString(),
             QStringLiteral("0/%1").arg(model.item(files).announced));
}

void TestHostileNzb::takesMegabyteFields_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("subjectCell");
    QTest::addColumn<QString>("nameCell"); // with file names only
    QTest::addColumn<QString>("parts");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QByteArray>("messageId");
    QTest::addColumn<QString>("days");

    const QByteArray mb(kMegabyte, 'a');
    const QString mbText = QString::fromLatin1(mb);
    const auto row = [](const char *name, const OneFile &file) -> QTestData & {
        return QTest::newRow(name) << document(file);
    };
    const QString plain = QStringLiteral("s yEnc");
    const QString p11 = QStringLiteral("1/1");
    const QString group = QStringLiteral("alt.test");
    const QByteArray id = "id@x";
    const QString days = QStringLiteral("3");

    OneFile file;
    file.subject = mb + " yEnc (1/1)";
    row("subject", file) << mbText + QLatin1String(" yEnc") << QString(80, u'a') + QLatin1String(" yEnc") << p11
                         << group << id << days;

    file = {};
    file.subject = repeated("(", kMegabyte);
    row("subject of opening parentheses", file) << QString(kMegabyte - 2, u'(') << QString(85, u'(')
                                                << QStringLiteral("1/0") << group << id << days;

    file = {};
    file.subject = repeated("x (1/2)", kMegabyte / 7);
    row("subject of part counters", file)
        << QString::fromLatin1(file.subject.chopped(6)) << QString::fromLatin1(file.subject.chopped(6).right(85))
        << QStringLiteral("1/2") << group << id << days;

    file = {};
    file.subject = "x (1/" + QByteArray(kMegabyte, '9') + ")";
    row("part count of a million digits", file) << QStringLiteral("x") << QStringLiteral("x") << QStringLiteral("1/0")
                                                << group << id << days;

    file = {};
    file.subject = "x (1/" + QByteArray(kMegabyte, ' ') + "7)";
    row("part count after a megabyte of blanks", file) << QStringLiteral("x") << QStringLiteral("x")
                                                       << QStringLiteral("1/7") << group << id << days;

    file = {};
    file.subject = repeated("&quot;", kMegabyte) + " (1/1)";
    row("subject of quotes", file) << QString(kMegabyte, u'"') << QString() << p11 << group << id << days;

    file = {};
    file.subject = repeated("]", kMegabyte);
    row("subject of closing brackets", file) << QString(kMegabyte, u']') << QString() << QStringLiteral("1/0")
                                             << group << id << days;

    // U+1F600 is four bytes in UTF-8 and a surrogate pair in UTF-16; no pair may be split.
    file = {};
    const QByteArray emoji = "\xF0\x9F\x98\x80";
    file.subject = repeated(emoji, kMegabyte / 4) + " (1/1)";
    row("subject beyond the basic plane", file) << QString::fromUtf8(repeated(emoji, kMegabyte / 4))
                                                << QString::fromUtf8(repeated(emoji, 85)) << p11 << group << id
                                                << days;

    file = {};
    file.segment = mb;
    row("message-ID", file) << plain << plain << p11 << group << mb << days;

    file = {};
    file.segment = "\n  &lt;" + mb + "&gt;\t\n";
    row("message-ID in brackets and white space", file) << plain << plain << p11 << group << mb << days;

    file = {};
    file.segment = repeated(" \t", kMegabyte / 2) + "id@x";
    row("message-ID after a megabyte of white space", file) << plain << plain << p11 << group << id << days;

    file = {};
    file.group = mb;
    row("group", file) << plain << plain << p11 << mbText << id << days;

    file = {};
    file.attributes = " date=\"" + QByteArray(kMegabyte, '7') + "\"";
    row("date of a million digits", file) << plain << plain << p11 << group << id << QStringLiteral("?");

    file = {};
    file.attributes = " date=\"" + QByteArray(kMegabyte, '0') + "1796385600\"";
    row("date after a million zeros", file) << plain << plain << p11 << group << id << days;

    file = {};
    file.attributes = " date=\"1796385600\" comment=\"" + mb + "\"";
    row("unknown attribute", file) << plain << plain << p11 << group << id << days;

    file = {};
    file.attributes = " date=\"1796385600\" " + mb + "=\"x\"";
    row("attribute name", file) << plain << plain << p11 << group << id << days;

    file = {};
    file.around = mb;
    row("element name around the file", file) << plain << plain << p11 << group << id << days;
}

void TestHostileNzb::takesMegabyteFields()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, subjectCell);
    QFETCH(QString, nameCell);
    QFETCH(QString, parts);
    QFETCH(QString, group);
    QFETCH(QByteArray, messageId);
    QFETCH(QString, days);

    const NzbLoadResult result = load(bytes);
    QVERIFY2(result.loaded(), qPrintable(describe(result)));
    const NzbModel &model = *result.model;
    QCOMPARE(model.itemCount(), 1);
    COMPARE_TEXT(model.data(model.index(0, NzbModel::SubjectColumn)).toString(), subjectCell);
    QCOMPARE(model.data(model.index(0, NzbModel::PartsColumn)).toString(), parts);
    COMPARE_TEXT(model.groupName(), group);
    QCOMPARE(model.articleQueue().count(), 1);
    COMPARE_TEXT(QString::fromLatin1(model.articleQueue().entry(1).messageId), QString::fromLatin1(messageId));
    QCOMPARE(model.summary().lines[5], QStringLiteral("The files were posted %1 day(s) ago.").arg(days));

    const NzbLoadResult names = load(bytes, true);
    QVERIFY2(names.loaded(), qPrintable(describe(names)));
    COMPARE_TEXT(names.model->item(1).name, nameCell);
}

void TestHostileNzb::survivesDeepNesting_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("parts");   // of each row; empty for a parse error
    QTest::addColumn<QStringList>("entries"); // the queue, or the parse error's reason and line

    constexpr int depth = 100000;
    const QByteArray open = repeated("<a>", depth);
    const QByteArray close = repeated("</a>", depth);
    const QByteArray segments = "<segments><segment>a@x</segment><segment>b@x</segment></segments>";
    const QByteArray file = "<file subject=\"f (1/2)\">" + segments + "</file>";
    const QStringList both{QStringLiteral("1*****a@x"), QStringLiteral("1*****b@x")};
    const QStringList complete{QStringLiteral("2/2")};

    QTest::newRow("around the file") << "<nzb>" + open + file + close + "</nzb>" << complete << both;
    QTest::newRow("around the root") << open + "<nzb>" + file + "</nzb>" + close << complete << both;
    QTest::newRow("a million levels around the root")
        << repeated("<a>", 1000000) + "<nzb>" + file + "</nzb>" + repeated("</a>", 1000000) << complete << both;
    QTest::newRow("after the file, at the end of the document")
        << "<nzb>" + file + open + close + "</nzb>" << complete << both;
    // Segments count only as children of a file's own segments element.
    QTest::newRow("between the file and its segments")
        << "<nzb><file subject=\"f (1/2)\">" + open + segments + close + "</file></nzb>"
        << QStringList{QStringLiteral("0/2")} << QStringList();
    QTest::newRow("between segments and a segment")
        << "<nzb><file subject=\"f (1/2)\"><segments><segment>a@x</segment>" + open + "<segment>deep@x</segment>" + close
               + "<segment>b@x</segment></segments></file></nzb>"
        << complete << both;
    QTest::newRow("inside a segment")
        << "<nzb><file subject=\"f (1/1)\"><segments><segment>" + open + "deep@x" + close + "</segment></segments></file></nzb>"
        << QStringList{QStringLiteral("1/1")} << QStringList{QStringLiteral("1*****deep@x")};
    QTest::newRow("text at every level of a segment")
        << "<nzb><file subject=\"f (1/1)\"><segments><segment>" + repeated("<a>x", depth) + close
               + "</segment></segments></file></nzb>"
        << QStringList{QStringLiteral("1/1")} << QStringList{QStringLiteral("1*****") + QString(depth, u'x')};

    // A file inside each file: every level is a row of its own, in document order.
    QByteArray nested = "<nzb>";
    QStringList nestedParts, nestedEntries;
    for (int level = 1; level <= depth; ++level) {
        nested += "<file subject=\"f (1/1)\"><segments><segment>" + QByteArray::number(level) + "@x</segment></segments>";
        nestedParts << QStringLiteral("1/1");
        nestedEntries << QStringLiteral("%1*****%1@x").arg(level);
    }
    nested += repeated("</file>", depth) + "</nzb>";
    QTest::newRow("files inside files") << nested << nestedParts << nestedEntries;

    QTest::newRow("never closed") << "<nzb>" + file + "\n" + open
                                  << QStringList() << QStringList{QStringLiteral("Start-end tags mismatch"), QStringLiteral("2")};
}

void TestHostileNzb::survivesDeepNesting()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, parts);
    QFETCH(QStringList, entries);

    const NzbLoadResult result = load(bytes);
    if (parts.isEmpty()) {
        QCOMPARE(result.kind, NzbLoadResult::Kind::ParseError);
        QCOMPARE(result.errorReason, entries.value(0));
        QCOMPARE(result.errorLine, entries.value(1).toLongLong());
        return;
    }
    QVERIFY2(result.loaded(), qPrintable(describe(result)));
    const NzbModel &model = *result.model;
    QStringList actualParts;
    for (int index = 1; index <= model.itemCount(); ++index)
        actualParts << model.item(index).partsText();
    QCOMPARE(actualParts, parts);
    QStringList actualEntries;
    for (qsizetype position = 1; position <= model.articleQueue().count(); ++position)
        actualEntries << model.articleQueue().entry(position).text();
    QCOMPARE(actualEntries, entries);
}

void TestHostileNzb::keepsSegmentsWithAbsurdAttributes_data()
{
    QTest::addColumn<QByteArray>("value"); // of number and bytes on the middle segment

    QTest::newRow("negative") << QByteArray("-1");
    QTest::newRow("2^63") << QByteArray("9223372036854775808");
    QTest::newRow("-2^63 - 1") << QByteArray("-9223372036854775809");
    QTest::newRow("2^64") << QByteArray("18446744073709551616");
    QTest::newRow("a thousand digits") << QByteArray(1000, '9');
    QTest::newRow("zero") << QByteArray("0");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not digits") << QByteArray("twelve");
    QTest::newRow("hexadecimal") << QByteArray("0x7fffffff");
    QTest::newRow("exponent") << QByteArray("1e99");
    QTest::newRow("fraction") << QByteArray("2.5");
    QTest::newRow("blanks around") << QByteArray("  2  ");
    QTest::newRow("repeats the first") << QByteArray("1");
    QTest::newRow("beyond the count") << QByteArray("3000000000");
    QTest::newRow("entity") << QByteArray("&#50;");
    QTest::newRow("non-ASCII digits") << QByteArray("\xD9\xA2"); // ARABIC-INDIC DIGIT TWO
}

// Segment numbers and sizes are not trusted for anything: every segment is kept, in document
// order, whatever its attributes say.
void TestHostileNzb::keepsSegmentsWithAbsurdAttributes()
{
    QFETCH(QByteArray, value);
    const QByteArray bytes = "<nzb><file subject=\"f (1/3)\"><segments>"
                             "<segment bytes=\"100\" number=\"1\">a@x</segment>"
                             "<segment bytes=\"" + value + "\" number=\"" + value + "\">b@x</segment>"
                             "<segment number=\"" + value + "\" bytes=\"" + value + "\" number2=\"3\">c@x</segment>"
                             "</segments></file></nzb>";
    const NzbLoadResult result = load(bytes);
    QVERIFY2(result.loaded(), qPrintable(describe(result)));
    const NzbModel &model = *result.model;
    QCOMPARE(model.item(1).partsText(), QStringLiteral("3/3"));
    QVERIFY(result.warningLines.isEmpty());
    const ArticleQueue &queue = model.articleQueue();
    QCOMPARE(queue.count(), 3);
    QCOMPARE(queue.entry(1).text(), QStringLiteral("1*****a@x"));
    QCOMPARE(queue.entry(2).text(), QStringLiteral("1*****b@x"));
    QCOMPARE(queue.entry(3).text(), QStringLiteral("1*****c@x"));
}

QTEST_GUILESS_MAIN(TestHostileNzb)
#include "tst_hostilenzb.moc"
