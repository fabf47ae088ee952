#include "nzb/NzbLoader.h"

#include "GzipBytes.h"
#include "TestFiles.h"

#include <QDir>
#include <QTest>

#include <thread>

#include <sys/stat.h>

namespace {

const QDateTime kNow(QDate(2026, 12, 7), QTime(8, 0));

LoadOptions options(qint64 largest = kLargestUnpackedNzb)
{
    LoadOptions result;
    result.now = kNow;
    result.largestUnpacked = largest;
    return result;
}

// A load as orvalis-check --dump shows it: the log block, the warning, the group, the table's
// cells and the queue; or the box's title and text.
QString dump(const NzbLoadResult &result)
{
    if (!result.loaded())
        return (QStringList{result.boxTitle()} + result.boxLines()).join(u'\n') + u'\n';
    const NzbModel &model = *result.model;
    QStringList lines = model.summary().logLines() + result.warningLines;
    lines << QStringLiteral("Group: ") + model.groupName();
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells{QString::number(row + 1)};
        for (int column = 0; column < model.columnCount(); ++column)
            cells << model.data(model.index(row, column)).toString();
        lines << cells.join(u'\t');
    }
    for (qsizetype position = 1; position <= model.articleQueue().count(); ++position)
        lines << model.articleQueue().entry(position).text();
    return lines.join(u'\n') + u'\n';
}

NzbLoadResult load(const QByteArray &bytes, const LoadOptions &with = options())
{
    return LoadNzbFromBytes(bytes, QStringLiteral("t.nzb"), with);
}

} // namespace

class TestNzbLoader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Every outcome, in the golden file, the same whether the bytes come from memory or from a file;
    // "@" names a source only a file can be, "%" an NZB in tests/data. Never more is read or unpacked
    // than the bound. Loaded files show files anywhere in the document, message-IDs bare, the first group
    // of the last file that names one (else the previous one), text decoded and entities kept as written.
    void loadsOrRefuses()
    {
        const QByteArray sample = testData(QStringLiteral("sample.nzb"));
        const qsizetype half = sample.indexOf("<segment ", sample.size() / 2) + 4;
        const QByteArray mismatch = "<?xml version=\"1.0\"?>\r\n<nzb>\r\n<file subject=\"a\">\r\n</nzb>\r\n";
        const QByteArray mib = "<nzb><file subject=\"a\"/></nzb>" + QByteArray((1 << 20) - 30, '\n');
        const QByteArray good = gzipped("<nzb/>");
        const struct { const char *tag; QByteArray bytes; qint64 largest = kLargestUnpackedNzb; bool namesOnly = false; } rows[] = {
            {"sample", "%sample"},
            {"sample, file names only", "%sample", kLargestUnpackedNzb, true},
            {"shapes", "%nzb-shapes"},
            {"ISO-8859-1", "%nzb-latin1"},
            {"entities neither expanded nor fetched", "%nzb-entities"},
            {"empty file", ""},
            {"mismatched end tag, CR LF lines", mismatch},
            {"lines counted after a removed doctype", "<?xml version=\"1.0\"?>\n<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.0//EN\" "
                "\"http://www.newzbin.com/DTD/nzb/nzb-1.0.dtd\">\n<nzb>\n<file subject=\"a\" subject=\"b\"/>\n<file subject=\"c></nzb>"},
            {"truncated", "<nzb>\n<file subject=\"a (1/1)\">\n<segments><segm"},
            {"invalid UTF-8 on line 3", "<nzb>\n<file\nsubject=\"caf\xE9\"/></nzb>"},
            {"NUL byte", QByteArray("<nzb>\n\n<file subject=\"a\0\"/></nzb>", 31)},
            {"no files", "<nzb><head/></nzb>"},
            {"a file without subject", "<nzb><file subject=\"a\"/><file date=\"1\"/></nzb>"},
            {"missing", "@/nonexistent/missing.nzb"},
            {"a folder", "@folder"},
            {"over 1024 MiB", "@" + QByteArray::number(kLargestUnpackedNzb + 1)},
            {"at the bound", "@1000", 1000},
            {"a byte over the bound", "@1001", 1000},
            {"a device without end", "@/dev/zero", 1000},
            {"a pipe", "@pipe", 1000},
            {"gzip: the sample in two members, split inside a tag", gzipped(sample.left(half)) + gzipped(sample.mid(half))},
            {"gzip: zero padding after the end", gzipped(sample) + QByteArray(512, '\0')},
            {"gzip: lines of a parse error counted unpacked", gzipped(mismatch)},
            {"gzip: an empty member", gzipped({})},
            {"gzip: unpacks to the bound", gzipped(mib), 1 << 20},
            {"gzip: unpacks a byte beyond the bound", gzipped(mib + '\n'), 1 << 20},
            {"gzip: beyond the bound across members", gzipped(mib.left(1000)) + gzipped(mib.mid(1000) + '\n'), 1 << 20},
            {"gzip: cut in half", good.left(good.size() / 2)},
            {"gzip: signature only", "\x1f\x8b"},
            {"gzip: second member cut after one byte", good + "\x1f"},
            {"gzip: wrong CRC", good.left(good.size() - 8) + char(good[good.size() - 8] ^ 1) + good.right(7)},
            {"gzip: text after the end", good + "<nzb/>"},
        };
        QString all;
        for (const auto &row : rows) {
            QTemporaryDir dir;
            // The path is shown trimmed of blanks, control characters as blanks.
            QString path = dir.filePath(QStringLiteral("t\t.nzb"));
            const QString source = QString::fromUtf8(row.bytes.mid(1));
            LoadOptions with = options(row.largest);
            with.namesOnly = row.namesOnly;
            with.previousGroupName = QStringLiteral("alt.before");
            std::thread writer;
            bool sized = false;
            const QByteArray bytes = row.bytes.startsWith('%') ? testData(source + QStringLiteral(".nzb")) : row.bytes;
            QString fromMemory;
            if (!bytes.startsWith('@')) {
                fromMemory = dump(LoadNzbFromBytes(bytes, u' ' + path + u' ', with));
                writeTestFile(dir, QFileInfo(path).fileName(), bytes);
            } else if (const qint64 size = source.toLongLong(&sized); sized) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write("<nzb/>") == 6);
                QVERIFY(size > 1 << 20 ? file.resize(size) : file.write(QByteArray(size - 6, ' ')) == size - 6);
            } else if (source == u"folder") {
                path = dir.path();
            } else if (source == u"pipe") {
                QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
                writer = std::thread([path] {
                    QFile pipe(path);
                    if (pipe.open(QIODevice::WriteOnly))
                        pipe.write("<nzb>\n<fil"); // a parse error: its line is counted without a second read
                });
            } else {
                path = source;
            }
            const QString fromFile = dump(LoadNzb(u' ' + path + u' ', with));
            if (writer.joinable())
                writer.join();
            QCOMPARE(fromMemory.isEmpty() ? fromFile : fromMemory, fromFile);
            all += QStringLiteral("=== %1\n%2").arg(QLatin1String(row.tag), QString(fromFile).replace(dir.path(), QLatin1String("DIR")));
        }
        COMPARE_GOLDEN("nzb-outcomes.txt", all.toUtf8());
    }

    // The counts, rounded half to even at two decimals of the exact double in the shortest form, and
    // the calendar days from the last valid date (seconds since 1970, no time zone) to the local now.
    void summarises_data()
    {
        QTest::addColumn<QByteArray>("files");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("line");
        const auto count = [](const char *tag, QList<int> announced, QList<int> listed, const char *missing, QChar separator = u'.') {
            QByteArray files;
            for (qsizetype i = 0; i < announced.size(); ++i)
                files += "<file subject=\"f (1/" + QByteArray::number(announced[i]) + ")\"><segments>" + QByteArray("<segment>s@x</segment>").repeated(listed[i]) + "</segments></file>";
            QTest::newRow(tag) << files << separator << QStringLiteral("Message-ID's missing from the NZB: ") + missing;
        };
        count("48 of 50", {50}, {48}, "2 (4%)");
        count("8 of 3x3", {3, 3, 3}, {3, 3, 2}, "1 (11.11%)");
        count("double just below the tie", {160}, {137}, "23 (14.37%)");
        count("exact tie rounds down to even", {800}, {799}, "1 (0.12%)");
        count("exact tie rounds up to even", {800}, {797}, "3 (0.38%)");
        count("the user's separator", {8}, {7}, "1 (12,5%)", u',');
        count("more listed than announced", {3}, {4}, "-1 (-33.33%)");
        count("rounds to minus zero", {100000}, {100001}, "-1 (0%)");
        count("nothing announced", {0, 0}, {1, 1}, "-2 (0%)");
        count("sums beyond 32 bits", {2147483647, 2147483647}, {1, 1}, "4294967292 (100%)");
        const auto at = [](int daysAgo, QTime time) {
            return QByteArray::number(QDateTime(kNow.date().addDays(-daysAgo), time, Qt::UTC).toSecsSinceEpoch());
        };
        const auto days = [](const char *tag, QList<QByteArray> dates, const char *days) {
            QByteArray files;
            for (const QByteArray &date : dates)
                files += "<file subject=\"x\"" + (date.isNull() ? QByteArray() : " date=\"" + date + "\"") + "/>";
            QTest::newRow(tag) << files << QChar(u'.') << QStringLiteral("The files were posted %1 day(s) ago.").arg(days);
        };
        days("late yesterday, early today", {at(1, {23, 59, 59})}, "1");
        days("last file counts", {at(30, {12, 0}), at(2, {0, 0})}, "2");
        days("last valid date counts", {at(5, {1, 0}), "soon", QByteArray()}, "5");
        days("no valid date", {QByteArray(), "1.5e9", ""}, "?");
        days("blanks around the number", {" 86400 "}, "20793");
        days("before 1970", {"-1"}, "20795");
        days("beyond 32766 days", {QByteArray::number(-86400LL * 20000)}, "40794");
        days("in the future", {at(-3, {0, 0})}, "-3");
        days("beyond a million years", {"31622400000001", "-31622400000001"}, "?");
    }

    void summarises()
    {
        QFETCH(QByteArray, files);
        QFETCH(QChar, separator);
        QFETCH(QString, line);
        LoadOptions with = options();
        with.decimalSeparator = separator;
        const LoadSummary summary = load("<nzb>" + files + "</nzb>", with).model->summary();
        QVERIFY2(std::find(summary.lines.begin(), summary.lines.end(), line) != summary.lines.end(), qPrintable(summary.logLines().join(u'\n')));
    }

    void refusesWhatItMayNotRead()
    {
        QTemporaryDir dir;
        const QString path = writeTestFile(dir, QStringLiteral("locked.nzb"), "<nzb/>");
        QVERIFY(QFile::setPermissions(path, {}));
        if (QFile(path).open(QIODevice::ReadOnly))
            QSKIP("This user reads files without read permission (root).");
        QCOMPARE(dump(LoadNzb(path, options())), QStringLiteral("Error loading NZB\n70 - Permission denied\n"));
    }

    // Real NZBs from other projects; those compressed by others load as their plain forms.
    void loadsTheCorpus()
    {
        const QDir corpus(QStringLiteral(ORVALIS_CORPUS_DIR));
        const QStringList names = corpus.entryList({QStringLiteral("*.nzb"), QStringLiteral("*.nzb.gz")}, QDir::Files);
        if (names.isEmpty())
            QSKIP("The corpus of real NZB files is not present.");
        QString all;
        QHash<QString, QString> dumps;
        for (const QString &name : names) {
            const QByteArray bytes = readBytes(corpus.filePath(name));
            const QString text = dump(load(bytes));
            if (name.endsWith(QLatin1String(".nzb")))
                QCOMPARE(dump(load(gzipped(bytes))), text);
            else if (dumps.contains(name.chopped(3)))
                QCOMPARE(text, dumps[name.chopped(3)]);
            dumps[name] = text;
            all += QStringLiteral("=== ") + name + u'\n' + text;
        }
        COMPARE_GOLDEN("nzb-corpus.txt", all.toUtf8());
    }

    void showsTheStatusAsTheIcon()
    {
        NzbLoadResult result = load("<nzb><file subject=\"a (1/2)\"><segments><segment>a@x</segment></segments></file></nzb>");
        NzbModel &model = *result.model;
        model.setStatusIcons({QStringLiteral("queued"), QStringLiteral("checking"), QStringLiteral("available"), QStringLiteral("missing")});
        QCOMPARE(model.data(model.index(0, 0), Qt::DecorationRole).toString(), QStringLiteral("queued"));
        model.setItemStatus(1, ItemStatus::Missing);
        model.setItemAvailable(1, QStringLiteral("1"));
        QCOMPARE(model.data(model.index(0, 0), Qt::DecorationRole).toString(), QStringLiteral("missing"));
        QCOMPARE(model.data(model.index(0, 0), NzbModel::StatusRole).toInt(), 4);
        QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("1"));
        // The check's counters have a slot per item and an unused slot 0.
        QCOMPARE(std::as_const(model).counters().found.size(), size_t(2));
        QCOMPARE(model.articleQueue().count(), model.statistics().foundCount);
    }
};

QTEST_GUILESS_MAIN(TestNzbLoader)
#include "tst_nzbloader.moc"
