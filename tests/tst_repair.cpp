#include "Par2Bytes.h"

#include "repair/Listings.h"
#include "repair/RepairVerdict.h"
#include "repair/Yenc.h"

#include <QTest>

#include <zlib.h>

using namespace repair;
using namespace Qt::StringLiterals;

namespace {

QByteArray article(const QByteArray &data, const QByteArray &ypart, const QByteArray &yend)
{
    return "=ybegin part=1 line=128 size=10 name=a b.bin\r\n" + ypart + yencEncoded(data) + "\r\n" + yend + "\r\n";
}

QByteArray crc(const QByteArray &data)
{
    return QByteArray::number(quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()))), 16);
}

// A file of `parts` parts, the listed ones as given ('+' found, '-' missing, '.' not listed).
PostedFile posted(const QString &name, const char *parts, qint64 partBytes = 1030)
{
    PostedFile file{name, int(strlen(parts)), {}};
    for (int part = 1; parts[part - 1]; ++part) {
        if (parts[part - 1] != '.')
            file.segments.push_back({part, partBytes, parts[part - 1] == '-'});
    }
    return file;
}

// What par2cmdline writes for files of these lengths at slice size `slice`.
FetchedFacts index(qint64 slice, const std::vector<std::pair<QString, qint64>> &files, qint64 partSize)
{
    FetchedFacts facts;
    facts.partSize = partSize;
    par2::SetDescription &set = facts.description;
    set.sliceSize = slice;
    set.fileCount = qint64(files.size());
    set.creator = QStringLiteral("Created by par2cmdline version 0.8.1.");
    set.creatorPacketSize = 104;
    set.criticalPacketSizes.push_back(76 + 16 * set.fileCount);
    for (const auto &[name, length] : files) {
        set.files.push_back({name.toUtf8(), name, length});
        set.criticalPacketSizes.push_back(120 + (name.size() + 3) / 4 * 4);
    }
    for (const auto &[name, length] : files)
        set.criticalPacketSizes.push_back(80 + 20 * ((length + slice - 1) / slice));
    return facts;
}

} // namespace

using Described = std::vector<std::pair<QString, qint64>>;
Q_DECLARE_METATYPE(Described)
Q_DECLARE_METATYPE(std::optional<QString>)

class TestRepair : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesYencParts_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome"); // begin:bytes, or the error
        const QByteArray data("\xd6\xe0\xe3\x13=.x\x00\xff", 9); // bytes that encode to NUL, CR, LF, '=' and a dot
        const QByteArray ypart = "=ypart begin=2 end=10\r\n";
        QTest::newRow("escapes") << article(data, ypart, "=yend size=9 part=1 pcrc32=" + crc(data)) << "2:" + QString::fromLatin1(data.toHex());
        QTest::newRow("no CRC given") << article(data, ypart, "=yend size=9 part=1") << "2:" + QString::fromLatin1(data.toHex());
        QTest::newRow("CRC wrong") << article(data, ypart, "=yend size=9 part=1 pcrc32=1234") << "the part's CRC32 disagrees with its =yend line";
        QTest::newRow("size wrong") << article(data, ypart, "=yend size=8 part=1") << "the part's size disagrees with its =yend line";
        QTest::newRow("part beyond the file") << article(data, "=ypart begin=2 end=11\r\n", "=yend size=9") << "the =ypart line is not valid";
        QTest::newRow("cut short") << article(data, ypart, "").chopped(2) << "the body ends before its =yend line";
        QTest::newRow("escape at the end") << QByteArray("=ybegin size=1 name=x\n=\n=yend size=0\n") << "an encoded line ends inside an escape";
        QTest::newRow("no yEnc") << QByteArray("begin 644 x\n") << "the body holds no =ybegin line";
    }

    void decodesYencParts()
    {
        QFETCH(QByteArray, body);
        const auto decoded = yenc::DecodeBody(body);
        const auto *part = std::get_if<yenc::DecodedPart>(&decoded);
        QTEST(part ? QString::number(part->begin) + u':' + QString::fromLatin1(part->data.toHex()) : std::get<QString>(decoded), "outcome");
    }

    void judgesInBlocks_data()
    {
        QTest::addColumn<std::vector<PostedFile>>("files");
        QTest::addColumn<Described>("described"); // by the first set's index, at slices of 1,000 bytes
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<std::optional<QString>>("ignore"); // as --ignore-ext gives it; none for the default
        QTest::addColumn<int>("worst"); // the line a status bar shows
        const std::optional<QString> byDefault;
        const Described ab{{u"a.rar"_s, 3000}, {u"b.rar"_s, 2500}};
        const auto set = [](const char *a, const char *b, const char *volume, qint64 partBytes = 1000) {
            return std::vector<PostedFile>{posted(u"s.par2"_s, "+"), posted(u"a.rar"_s, a, partBytes), posted(u"b.rar"_s, b, partBytes), posted(u"s.vol0+3.par2"_s, volume, partBytes)};
        };
        const QString notNeeded = u"Repair: not needed, every data article was found."_s;
        QTest::newRow("nothing missing") << set("+++", "+++", "++++") << ab << QStringList{notNeeded} << byDefault << 0;
        QTest::newRow("only a volume lost") << set("+++", "+++", "-+++") << ab << QStringList{notNeeded} << byDefault << 0;
        QTest::newRow("aligned, one not listed") << set("+-+", "+.+", "++++") << ab << QStringList{u"Repair: possible, needs 2 of 3 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("short last article") << set("+++", "++-", "++++") << ab << QStringList{u"Repair: possible, needs 1 of 3 recovery block(s)."_s} << byDefault << 0;
        // Articles of 700 bytes: the second of a.rar (3,300 bytes) lies across blocks 0 and 1.
        QTest::newRow("across block edges") << set("+-+-+", "++-+", "+++++++", 700) << Described{{u"a.rar"_s, 3300}, {u"b.rar"_s, 2500}}
                                            << QStringList{u"Repair: not possible, 2 recovery block(s) short (needs 5, 3 available)."_s} << byDefault << 0;
        // Recovery packets of 1,068 bytes at 0 and 1,432 (after three critical packets): the
        // volume's second article hits both.
        QTest::newRow("damaged volume") << set("+-+", "+++", "+-++") << ab << QStringList{u"Repair: possible, needs 1 of 1 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("described, not posted") << std::vector{posted(u"s.par2"_s, "+"), posted(u"a.rar"_s, "+++"), posted(u"s.vol0+3.par2"_s, "++++")}
                                               << ab << QStringList{u"Repair: possible, needs 3 of 3 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("outside the set") << std::vector{posted(u"x.par2"_s, "+"), posted(u"x.vol0+1.par2"_s, "++"), posted(u"x.r00"_s, "+-"), posted(u"y.NFO"_s, "-"), posted(u"y.sfv"_s, "+"), posted(u"y.jpg"_s, "-")}
                                         << Described{{u"x.r00"_s, 2000}}
                                         << QStringList{u"Repair: possible, needs 1 of 1 recovery block(s)."_s, u"Not covered by par2: y.jpg"_s, u"Not covered by par2 (not needed): y.NFO"_s} << byDefault << 1;
        QTest::newRow("a repair, a file not needed lost") << std::vector{posted(u"x.par2"_s, "+"), posted(u"x.vol0+1.par2"_s, "++"), posted(u"x.r00"_s, "+-"), posted(u"y.nfo"_s, "-")}
                                                          << Described{{u"x.r00"_s, 2000}}
                                                          << QStringList{u"Repair: possible, needs 1 of 1 recovery block(s)."_s, u"Not covered by par2 (not needed): y.nfo"_s} << byDefault << 1;
        QTest::newRow("no par2") << std::vector{posted(u"a.rar"_s, "+-")} << Described{}
                                 << QStringList{u"Repair: unknown, the NZB has no par2 recovery files."_s, u"Not covered by par2: a.rar"_s} << byDefault << 1;
        // Claims size neither memory nor time: a file of 2^40 bytes, a volume of 999,999,999 blocks.
        QTest::newRow("a file of 2^40 bytes, a volume of 999,999,999 blocks")
            << std::vector{posted(u"s.par2"_s, "+"), posted(u"a.rar"_s, "+-+"), posted(u"s.vol0+999999999.par2"_s, "+-++")} << Described{{u"a.rar"_s, 1LL << 40}}
            << QStringList{u"Repair: possible, needs 366503877 of 999999997 recovery block(s)."_s} << byDefault << 0;
        // The index's 10,000 bytes make parts of one byte: 2 to 10,000 are lost, the rest lie past the end.
        QTest::newRow("a counter of two billion parts") << std::vector{posted(u"s.par2"_s, "+"), PostedFile{u"a.rar"_s, 2000000000, {{1, 1030}}}, posted(u"s.vol0+1.par2"_s, "+")}
                                                        << Described{{u"a.rar"_s, 10000}} << QStringList{u"Repair: not possible, 9 recovery block(s) short (needs 10, 1 available)."_s} << byDefault << 0;
        QTest::newRow("two sets") << std::vector{posted(u"p.par2"_s, "+"), posted(u"p.vol0+1.par2"_s, "++"), posted(u"p.bin"_s, "-"), posted(u"q.PAR2"_s, "+"), posted(u"q.bin"_s, "+")}
                                  << Described{{u"p.bin"_s, 1000}} << QStringList{u"Repair (p): possible, needs 1 of 1 recovery block(s)."_s, u"Repair (q): "_s + notNeeded.mid(8)} << byDefault << 0;
        QTest::newRow("only files not needed lost") << std::vector{posted(u"a.rar"_s, "++"), posted(u"a.nzb"_s, "-")} << Described{}
                                                    << QStringList{notNeeded, u"Not covered by par2 (not needed): a.nzb"_s} << byDefault << 1;
        QTest::newRow("an ignore list of its own") << std::vector{posted(u"readme.TXT"_s, "-"), posted(u"txt"_s, "-"), posted(u"a.txt.bak"_s, "-"), posted(u"b.jpeg"_s, "-"), posted(u"c.nfo"_s, "-")}
                                                   << Described{} << QStringList{u"Repair: unknown, the NZB has no par2 recovery files."_s, u"Not covered by par2: a.txt.bak"_s,
                                                                                 u"Not covered by par2: c.nfo"_s, u"Not covered by par2 (not needed): readme.TXT"_s,
                                                                                 u"Not covered by par2 (not needed): txt"_s, u"Not covered by par2 (not needed): b.jpeg"_s}
                                                   << std::optional(u" txt, *.J?EG ,,"_s) << 1;
        // Names that hide the files: paired with the index by part count and last article, files of one length interchangeable.
        const auto hidden = [](const char *a, const char *b) {
            return std::vector{posted(u"s.par2"_s, "+"), posted(u"0f3c9a"_s, a, 1000), posted(u"9ab2e1"_s, b, 1000), posted(u"s.vol0+3.par2"_s, "++++")};
        };
        QTest::newRow("names hidden, lengths tell") << hidden("+-+", "++") << Described{{u"a.rar"_s, 3000}, {u"b.rar"_s, 1500}}
                                                    << QStringList{u"Repair: possible, needs 1 of 3 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("names hidden, equal lengths") << hidden("+-", "--") << Described{{u"a.r00"_s, 2000}, {u"a.r01"_s, 2000}}
                                                     << QStringList{u"Repair: possible, needs 3 of 3 recovery block(s)."_s} << byDefault << 0;
        // A complete file no length fits may yet be the file the index describes and the NZB seems to lack.
        QTest::newRow("names hidden, a file fits none") << hidden("+++", "++") << Described{{u"a.rar"_s, 3000}, {u"b.rar"_s, 9000}}
                                                        << QStringList{u"Repair: uncertain, needs 0 to 9 of 3 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("names hidden, a lost file fits none") << hidden("+++", "+-") << Described{{u"a.rar"_s, 3000}}
                                                             << QStringList{notNeeded, u"Not covered by par2: 9ab2e1"_s} << byDefault << 1;
        // A file listed twice: a block is whole where one listing holds it whole, a volume counts once.
        const auto twice = [](const char *first, const char *second, qint64 secondBytes = 1000) {
            PostedFile copy = posted(u"A.RAR"_s, second, secondBytes);
            copy.partSize = secondBytes;
            return std::vector{posted(u"s.par2"_s, "+"), posted(u"a.rar"_s, first, 1000), posted(u"b.rar"_s, "+++", 1000), posted(u"s.vol0+3.par2"_s, "++++", 1000), copy};
        };
        QTest::newRow("listed twice, lost apart") << twice("+-+", "++-") << ab << QStringList{notNeeded} << byDefault << 0;
        QTest::newRow("listed twice, lost alike") << twice("+-+", "+--") << ab << QStringList{u"Repair: possible, needs 1 of 3 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("listed twice, the second at 500 bytes") << twice("+-+", "+++-++", 500) << ab
                                                               << QStringList{u"Repair: possible, needs 1 of 3 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("a volume listed twice") << std::vector{posted(u"s.par2"_s, "+"), posted(u"a.rar"_s, "+-+", 1000), posted(u"b.rar"_s, "+++", 1000), posted(u"s.vol0+3.par2"_s, "++++", 1000), posted(u"s.vol0+3.par2"_s, "-+++", 1000)}
                                               << ab << QStringList{u"Repair: possible, needs 1 of 3 recovery block(s)."_s} << byDefault << 0;
        QTest::newRow("an empty ignore list") << std::vector{posted(u"a.nfo"_s, "-")} << Described{}
                                              << QStringList{u"Repair: unknown, the NZB has no par2 recovery files."_s, u"Not covered by par2: a.nfo"_s} << std::optional(QString()) << 1;
    }

    void judgesInBlocks()
    {
        QFETCH(std::vector<PostedFile>, files);
        QFETCH(Described, described);
        files = MergedListings(std::move(files));
        std::vector<QString> names;
        for (const PostedFile &file : files)
            names.push_back(file.name);
        std::map<int, FetchedFacts> facts;
        if (!described.empty())
            facts[0] = index(1000, described, files[1].segments.front().bytes);
        QFETCH(std::optional<QString>, ignore);
        JudgeContext context;
        context.ignore = ignore ? IgnoreList::fromText(*ignore) : IgnoreList();
        const Judgement judgement = Judge(files, GroupByName(names), facts, context);
        QTEST(judgement.lines(), "lines");
        QFETCH(int, worst);
        QCOMPARE(judgement.worstLine(), judgement.lines().value(worst));
    }

    // Subjects that count more files than the NZB lists: unread, no index tells what they need.
    void saysFilesAreUnlisted_data()
    {
        QTest::addColumn<bool>("reading");
        QTest::addColumn<QStringList>("lines");
        const QString unlisted = u"The NZB lists 4 of the 6 files its subjects announce."_s;
        QTest::newRow("read") << true << QStringList{u"Repair: possible, needs 1 of 3 recovery block(s)."_s, unlisted};
        QTest::newRow("not read") << false << QStringList{u"Repair: uncertain, needs 2 to 51 of 3 recovery block(s)."_s, unlisted};
    }

    void saysFilesAreUnlisted()
    {
        const std::vector files{posted(u"s.par2"_s, "+"), posted(u"a.rar"_s, "+-+", 1000), posted(u"b.rar"_s, "+++", 1000), posted(u"s.vol0+3.par2"_s, "++++", 1000)};
        std::map<int, FetchedFacts> facts;
        QFETCH(bool, reading);
        if (reading)
            facts[0] = index(1000, {{u"a.rar"_s, 3000}, {u"b.rar"_s, 3000}}, 1000);
        JudgeContext context;
        context.reading = reading;
        context.filesListed = 4;
        context.filesAnnounced = 6;
        QTEST(Judge(files, GroupByName({u"s.par2"_s, u"a.rar"_s, u"b.rar"_s, u"s.vol0+3.par2"_s}), facts, context).lines(), "lines");
    }

    // With no file named par2, the line says why none is known.
    void saysWhyNoPar2IsKnown_data()
    {
        QTest::addColumn<bool>("reading");
        QTest::addColumn<int>("filesRead"); // of "x" and "y", in that order
        QTest::addColumn<bool>("budgetSpent");
        QTest::addColumn<QString>("line");
        QTest::newRow("not reading") << false << 0 << false << u"Repair: unknown, no file is named as par2 (the names may be obfuscated)."_s;
        QTest::newRow("the budget spent") << true << 1 << true << u"Repair: unknown, no par2 file was found among the 1 files read (the names may be obfuscated)."_s;
        QTest::newRow("every file read") << true << 2 << true << u"Repair: unknown, the NZB has no par2 recovery files."_s;
    }

    void saysWhyNoPar2IsKnown()
    {
        QFETCH(int, filesRead);
        std::vector<PostedFile> files{posted(u"x"_s, "+-"), posted(u"y"_s, "++")};
        for (int file = 0; file < filesRead; ++file)
            files[size_t(file)].first = FirstArticle{2000, {}, false, true, 0, std::nullopt};
        JudgeContext context;
        QFETCH(bool, reading);
        QFETCH(bool, budgetSpent);
        context.reading = reading;
        context.budgetSpent = budgetSpent;
        const Judgement judgement = Judge(files, GroupByName({u"x"_s, u"y"_s}), {}, context);
        QTEST(judgement.lines().value(0), "line");
        // Unread, x may be covered by par2 files whose names hide them.
        QCOMPARE(judgement.lines().value(1), reading ? u"Not covered by par2: x"_s : QString());
    }

    // False headers every 16 bytes after the index of one file, each claiming the rest of 64 KiB.
    void readsPacketsInLinearTime()
    {
        QByteArray bytes = par2Index(4, 1000);
        while (bytes.size() < 65536)
            bytes += QByteArray("PAR2\0PKT", 8) + littleEndian(quint64(65536 - bytes.size()), 8);
        qint64 hashed = 0;
        QCOMPARE(par2::ReadPackets(bytes, &hashed).files.size(), 1u);
        QVERIFY2(hashed <= 2 * bytes.size(), qPrintable(QString::number(hashed)));
    }
};

QTEST_GUILESS_MAIN(TestRepair)
#include "tst_repair.moc"
