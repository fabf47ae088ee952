// Times the repair verdict, from the par2 bytes read to the verdict line, on indexes made to be
// slow: packet headers every 16 bytes, each claiming the rest of the file; one file of 2^40 bytes
// in slices of 4; a subject announcing two billion parts; and the estimate without reading on a
// million articles.
//   orvalis-bench-verdict

#include "Par2Bytes.h"

#include "repair/Listings.h"
#include "repair/RepairVerdict.h"

#include <QElapsedTimer>

#include <cstdio>

namespace {

QByteArray falseHeaders(qint64 size)
{
    QByteArray bytes;
    bytes.reserve(qsizetype(size));
    while (bytes.size() < size)
        bytes += QByteArray("PAR2\0PKT", 8) + littleEndian(quint64(size - bytes.size()), 8);
    return bytes;
}

void timeVerdict(const char *input, const QByteArray &par2Bytes, int announced = 3)
{
    const std::vector<repair::PostedFile> files = {
        {QStringLiteral("s.par2"), 1, {{1, 768000}}},
        {QStringLiteral("s.rar"), announced, {{1, 768000}, {2, 768000, true}, {3, 768000}}},
        {QStringLiteral("s.vol0+1.par2"), 1, {{1, 768000}}},
    };
    QElapsedTimer timer;
    timer.start();
    std::map<int, repair::FetchedFacts> facts;
    qint64 hashed = 0;
    facts[0].description = par2::ReadPackets(par2Bytes, &hashed);
    facts[0].partSize = 745000;
    const QString verdict = repair::Judge(files, repair::GroupByName({files[0].name, files[1].name, files[2].name}), facts).worstLine();
    std::printf("%s: %.6f s to the verdict, %lld bytes hashed: %s\n", input, double(timer.nsecsElapsed()) / 1e9,
                static_cast<long long>(hashed), qPrintable(verdict));
}

// Unread, as with --stat-only: a million articles, each file listed twice, the second at
// another article size, with an article lost in every tenth file of each listing.
void timeEstimate()
{
    std::vector<repair::PostedFile> files{{QStringLiteral("s.par2"), 1, {{1, 40000}}}};
    std::vector<QString> names{files[0].name};
    for (int file = 1; file <= 5000; ++file) {
        for (const int partBytes : {768000, 512000}) {
            const int parts = partBytes == 768000 ? 80 : 120;
            repair::PostedFile listing{QStringLiteral("s.part%1.rar").arg(file, 5, 10, QLatin1Char('0')), parts, {}};
            for (int part = 1; part <= parts; ++part)
                listing.segments.push_back({part, partBytes, file % 10 == 0 && part == (partBytes == 768000 ? 7 : 30)});
            names.push_back(listing.name);
            files.push_back(std::move(listing));
        }
    }
    for (const int first : {0, 100, 300}) {
        files.push_back({QStringLiteral("s.vol%1+%2.par2").arg(first).arg(first ? 200 : 100), 100, {}});
        for (int part = 1; part <= 100; ++part)
            files.back().segments.push_back({part, 790000});
        names.push_back(files.back().name);
    }
    QElapsedTimer timer;
    timer.start();
    files = repair::MergedListings(std::move(files));
    names.clear();
    for (const repair::PostedFile &file : files)
        names.push_back(file.name);
    repair::JudgeContext context;
    context.reading = false;
    const QString verdict = repair::Judge(files, repair::GroupByName(names), {}, context).worstLine();
    std::printf("1,000,000 articles unread, each file listed twice: %.6f s to the verdict: %s\n", double(timer.nsecsElapsed()) / 1e9,
                qPrintable(verdict));
}

} // namespace

int main()
{
    timeVerdict("16 MiB of packet headers", falseHeaders(16 << 20));
    timeVerdict("64 MiB of packet headers", falseHeaders(64 << 20));
    timeVerdict("slice 4, a file of 2^40 bytes", par2Index(4, qint64(1) << 40));
    timeVerdict("2,000,000,000 parts announced", par2Index(768000, 2304000), 2000000000);
    timeEstimate();
    return 0;
}
