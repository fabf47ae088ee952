// The settings reader on any bytes; what it reads, written and read again, must come back alike.

#include "FuzzCheck.h"
#include "nzb/LogText.h"
#include "settings/SettingsFile.h"

#include <cstdint>

namespace {

// A control character is written as a blank, but in the login and the password.
bool sameServer(const ServerRecord &a, const ServerRecord &b)
{
    const auto blanked = [](const QString &text) { return singleLogLine(text).trimmed(); };
    return blanked(a.nickname) == b.nickname && blanked(a.address) == b.address && blanked(a.port) == b.port && blanked(a.threads) == b.threads
        && a.username == b.username && a.rowKey == b.rowKey && a.checked == b.checked;
}

void checkRoundTrip(const SettingsReadResult &first)
{
    const SettingsReadResult second = ReadSettingsDocument(WriteSettingsDocument(first.contents));
    FUZZ_CHECK(second.problem.isEmpty() && second.optionsRead);
    FUZZ_CHECK(second.contents.servers.size() == first.contents.servers.size());
    for (size_t i = 0; i < first.contents.servers.size(); ++i)
        FUZZ_CHECK(sameServer(first.contents.servers[i], second.contents.servers[i]));
    if (first.optionsRead) {
        FUZZ_CHECK(second.contents.namesOnly == first.contents.namesOnly);
        FUZZ_CHECK(second.contents.columnWidths == first.contents.columnWidths);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const SettingsReadResult read = ReadSettingsDocument(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    FUZZ_CHECK(read.optionsRead == read.problem.isEmpty());
    if (!read.contents.servers.empty())
        checkRoundTrip(read);
    return 0;
}
