// Writes a large NZB shaped like those indexers publish, for load benchmarks:
//   orvalis-make-nzb --segments N --files F [--seed S] [--encoding utf-8|iso-8859-1] OUT.nzb
// The same arguments always give the same bytes.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// splitmix64: fixed by its definition, unlike the standard distributions, so files match across compilers.
struct Random {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t bound) { return next() % bound; }
};

class Writer
{
public:
    explicit Writer(std::FILE *file) : m_file(file) { m_buffer.reserve(kFlushAt + 4096); }

    Writer &operator<<(std::string_view text)
    {
        m_buffer.append(text);
        if (m_buffer.size() >= kFlushAt)
            flush();
        return *this;
    }
    Writer &operator<<(std::uint64_t number)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        return *this << std::string_view(digits, size_t(end - digits));
    }
    // Random letters and digits, ten from each random number.
    void alphanumeric(Random &random, size_t length)
    {
        static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        char text[64];
        for (size_t i = 0; i < length;) {
            std::uint64_t bits = random.next();
            for (int k = 0; k < 10 && i < length; ++k, bits /= 62)
                text[i++] = kAlphabet[bits % 62];
        }
        *this << std::string_view(text, length);
    }
    bool flush()
    {
        const bool ok = std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) == m_buffer.size();
        m_buffer.clear();
        return ok;
    }

private:
    static constexpr size_t kFlushAt = size_t(1) << 22;
    std::FILE *m_file;
    std::string m_buffer;
};

// Every file gets at least one segment; the rest are spread by random weights between 1 and 3,
// so counts vary about threefold and still add up to `segments` exactly.
std::vector<std::uint64_t> segmentCounts(Random &random, std::uint64_t segments, std::uint64_t files)
{
    std::vector<std::uint64_t> weights(files);
    std::uint64_t total = 0;
    for (auto &weight : weights)
        total += weight = 1000 + random.below(2001);
    std::vector<std::uint64_t> counts(files);
    const std::uint64_t spare = segments - files;
    std::uint64_t prefix = 0, given = 0;
    for (size_t i = 0; i < files; ++i) {
        prefix += weights[i];
        // 128-bit product: a hundred million segments times the weight sum overflows 64 bits.
        const auto upTo = std::uint64_t((unsigned __int128)spare * prefix / total);
        counts[i] = 1 + upTo - given;
        given = upTo;
    }
    return counts;
}

int usage(const char *program)
{
    std::fprintf(stderr,
                 "usage: %s --segments N --files F [--seed S] [--encoding utf-8|iso-8859-1] OUT.nzb\n"
                 "  1 <= F <= N\n",
                 program);
    return 64;
}

} // namespace

int main(int argc, char **argv)
{
    std::uint64_t segments = 0, files = 0, seed = 1;
    std::string encoding = "iso-8859-1";
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--segments" && hasValue)
            segments = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--files" && hasValue)
            files = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--seed" && hasValue)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--encoding" && hasValue)
            encoding = argv[++i];
        else if (!arg.starts_with("--") && !path)
            path = argv[i];
        else
            return usage(argv[0]);
    }
    if (!path || files < 1 || files > segments || (encoding != "utf-8" && encoding != "iso-8859-1"))
        return usage(argv[0]);

    std::FILE *file = std::fopen(path, "wb");
    if (!file) {
        std::perror(path);
        return 1;
    }
    Writer out(file);
    Random random{seed};

    static const char *const kGroups[] = {"alt.binaries.boneless",  "alt.binaries.multimedia", "alt.binaries.teevee",
                                          "alt.binaries.hdtv.x264", "alt.binaries.misc",       "alt.binaries.frogs"};
    static const char *const kHosts[] = {"powerpost2000AA.local", "JBinUp.local", "ngPost.com", "nyuu.local",
                                         "camelsystem-powerpost.local"};
    std::string release = "Some.Release.Name.S01E01.1080p.WEB.h264-";
    for (int i = 0; i < 6; ++i)
        release += char('A' + random.below(26));
    const int digits = int(std::to_string(files).size());
    const std::uint64_t date = 1600000000 + random.below(100000000);
    const std::uint64_t partBytes = 716800 + random.below(8) * 65536; // the poster's article size before yEnc

    out << "<?xml version=\"1.0\" encoding=\"" << encoding << "\"?>\n"
        << "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" \"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">\n"
        << "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n\n <head>\n"
        << "  <meta type=\"category\">TV &gt; HD</meta>\n  <meta type=\"name\">" << release << "</meta>\n"
        << " </head>\n\n";

    const std::vector<std::uint64_t> counts = segmentCounts(random, segments, files);
    for (std::uint64_t f = 1; f <= files; ++f) {
        const std::uint64_t count = counts[f - 1];
        char number[32];
        std::snprintf(number, sizeof number, "%0*llu", digits, (unsigned long long)f);
        // A poster spreads its upload over a few minutes, one poster name per release.
        out << " <file poster=\"Poster &lt;poster@example.invalid&gt;\" date=\"" << date + f / 40 << "\" subject=\"["
            << std::string_view(number) << '/' << files << "] - &quot;" << release << ".part" << std::string_view(number)
            << ".rar&quot; yEnc (1/" << count << ")\">\n  <groups>\n";
        const std::uint64_t groupCount = 1 + random.below(3);
        const std::uint64_t firstGroup = random.below(std::size(kGroups));
        for (std::uint64_t g = 0; g < groupCount; ++g)
            out << "   <group>" << kGroups[(firstGroup + g) % std::size(kGroups)] << "</group>\n";
        out << "  </groups>\n  <segments>\n";
        for (std::uint64_t s = 1; s <= count; ++s) {
            // yEnc escapes make the encoded size vary a little around 102% of the raw size.
            const std::uint64_t raw = s < count ? partBytes : 1 + random.below(partBytes);
            const std::uint64_t bytes = raw + raw / 50 + random.below(raw / 200 + 1);
            const std::string_view host = kHosts[random.below(std::size(kHosts))];
            const size_t length = 40 + random.below(21);
            out << "   <segment bytes=\"" << bytes << "\" number=\"" << s << "\">";
            out.alphanumeric(random, length - host.size() - 1);
            out << "@" << host << "</segment>\n";
        }
        out << "  </segments>\n </file>\n";
    }
    out << "</nzb>\n";
    const bool written = out.flush();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path);
        return 1;
    }
    return 0;
}
