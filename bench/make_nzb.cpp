// Writes a large, realistic NZB: yEnc-style subjects, 40-60 character message-IDs,
// segment bytes and numbers, pretty-printed as indexers write them.
//   orvalis-make-nzb SEGMENTS FILES OUT.nzb [SEED]

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::string randomText(std::mt19937_64 &random, size_t length)
{
    std::string text(length, ' ');
    for (char &c : text)
        c = kAlphabet[random() % (sizeof kAlphabet - 1)];
    return text;
}

// A message-ID of 40 to 60 characters: a random local part at one of a few posting hosts.
std::string messageId(std::mt19937_64 &random)
{
    static const char *const hosts[] = {"news.example.invalid", "powerpost.invalid", "ngPost.invalid"};
    const std::string host = hosts[random() % 3];
    const size_t length = 40 + random() % 21;
    return randomText(random, length - host.size() - 1) + "@" + host;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SEGMENTS FILES OUT.nzb [SEED]\n", argv[0]);
        return 64;
    }
    const long segments = std::atol(argv[1]);
    const long files = std::atol(argv[2]);
    std::mt19937_64 random(argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1);
    std::FILE *out = std::fopen(argv[3], "wb");
    if (!out || segments < files || files < 1) {
        std::perror(argv[3]);
        return 1;
    }

    std::string xml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?>\n"
                      "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" \"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">\n"
                      "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n"
                      "  <head>\n    <meta type=\"title\">Generated.Release</meta>\n  </head>\n";
    const std::string release = "Generated.Release." + randomText(random, 12);
    long written = 0;
    for (long file = 1; file <= files; ++file) {
        // Spread the segments unevenly but so that they sum to the total.
        const long left = segments - written;
        const long average = left / (files - file + 1);
        const long count = file == files ? left : std::max(1L, average / 2 + long(random() % (average + 1)));
        written += count;
        char subject[512];
        std::snprintf(subject, sizeof subject, "[%ld/%ld] - &quot;%s.part%04ld.rar&quot; yEnc (1/%ld)", file, files,
                      release.c_str(), file, count);
        xml += "  <file poster=\"poster &lt;poster@example.invalid&gt;\" date=\"" + std::to_string(1700000000 + file)
               + "\" subject=\"" + subject + "\">\n    <groups>\n";
        for (unsigned g = 0, groups = 1 + random() % 3; g < groups; ++g)
            xml += "      <group>alt.binaries.test" + std::to_string(g) + "</group>\n";
        xml += "    </groups>\n    <segments>\n";
        for (long number = 1; number <= count; ++number) {
            const long bytes = number == count ? 1000 + long(random() % 700000) : 739573;
            xml += "      <segment bytes=\"" + std::to_string(bytes) + "\" number=\"" + std::to_string(number) + "\">"
                   + messageId(random) + "</segment>\n";
        }
        xml += "    </segments>\n  </file>\n";
        if (xml.size() > (1 << 22)) {
            std::fwrite(xml.data(), 1, xml.size(), out);
            xml.clear();
        }
    }
    xml += "</nzb>\n";
    std::fwrite(xml.data(), 1, xml.size(), out);
    return std::fclose(out) == 0 ? 0 : 1;
}
