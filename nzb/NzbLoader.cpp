#include "nzb/NzbLoader.h"

#include "nzb/Blanks.h"
#include "nzb/GzipReader.h"
#include "nzb/LogText.h"
#include "nzb/Numbers.h"
#include "nzb/NzbText.h"
#include "nzb/SubjectParsing.h"

#include <QFile>
#include <QFileInfo>

#include <pugixml.hpp>

#include <charconv>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <optional>

namespace {

// Failure numbers follow the classic run-time error numbers where one fits.
enum FailureNumber {
    OutOfMemory = 7,
    FileNotFound = 53,
    PermissionDenied = 70,
    PathFileAccessError = 75,
    NoFileElements = 1001,
    FileWithoutSubject = 1002,
    InvalidGzip = 1003,
    UnpackedTooLarge = 1004,
};

// Dates beyond a million years either way are not dates a post can have.
constexpr qint64 kMaxDateSeconds = 86400LL * 366 * 1000000;

NzbLoadResult failure(int number, const QString &description)
{
    NzbLoadResult result;
    result.kind = NzbLoadResult::Kind::Failure;
    result.errorNumber = number;
    result.errorReason = description;
    return result;
}

NzbLoadResult parseError(int code, qint64 line, const QString &reason)
{
    NzbLoadResult result;
    result.kind = NzbLoadResult::Kind::ParseError;
    result.errorNumber = code;
    result.errorLine = line;
    result.errorReason = reason;
    return result;
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArrayView trimXmlSpace(QByteArrayView text)
{
    while (!text.isEmpty() && isXmlSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isXmlSpace(text.back()))
        text.chop(1);
    return text;
}

// A message-ID as the NNTP layer wants it: no white space around it, no angle brackets.
QByteArrayView bareMessageId(QByteArrayView text)
{
    text = trimXmlSpace(text);
    if (text.size() >= 2 && text.front() == '<' && text.back() == '>')
        text = trimXmlSpace(text.sliced(1, text.size() - 2));
    return text;
}

// The element's text: its character data and that of its descendants, in order.
// Segments hold a single text node, so that case takes no copy.
QByteArrayView elementText(pugi::xml_node element, QByteArray &scratch)
{
    const pugi::xml_node first = element.first_child();
    if (first && !first.next_sibling() && (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata))
        return QByteArrayView(first.value());
    scratch.clear();
    for (pugi::xml_node node = first; node && node != element;) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            scratch.append(node.value());
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != element && !node.next_sibling())
            node = node.parent();
        if (node != element)
            node = node.next_sibling();
    }
    return QByteArrayView(scratch);
}

// Every `file` element of the document, in document order. Iterative, so deep nesting cannot overflow the stack.
std::vector<pugi::xml_node> fileElements(const pugi::xml_document &document)
{
    std::vector<pugi::xml_node> files;
    for (pugi::xml_node node = document.first_child(); node;) {
        if (node.type() == pugi::node_element && std::strcmp(node.name(), "file") == 0)
            files.push_back(node);
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != document && !node.next_sibling())
            node = node.parent();
        if (!node || node == document)
            break;
        node = node.next_sibling();
    }
    return files;
}

// Calls `visit` for each grandchild named `childName` under children named `groupName`, in order.
template<typename Visit>
void forEachNested(pugi::xml_node file, const char *groupName, const char *childName, Visit visit)
{
    for (pugi::xml_node group = file.child(groupName); group; group = group.next_sibling(groupName))
        for (pugi::xml_node child = group.child(childName); child; child = child.next_sibling(childName))
            if (!visit(child))
                return;
}

std::optional<qint64> parseDate(const char *text)
{
    QByteArrayView digits = trimXmlSpace(QByteArrayView(text));
    bool ok = false;
    const qint64 seconds = digits.toLongLong(&ok);
    if (!ok || seconds > kMaxDateSeconds || seconds < -kMaxDateSeconds)
        return std::nullopt;
    return seconds;
}

// Calendar days from the date of `seconds` after 1970-01-01 00:00:00 (no time zone) to the date of `now`.
qint64 daysSincePosted(qint64 seconds, const QDateTime &now)
{
    const qint64 days = seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0);
    return QDate(1970, 1, 1).addDays(days).daysTo(now.date());
}

QString missingPercent(const LoadStatistics &statistics, QChar decimalSeparator)
{
    if (statistics.requiredCount == 0)
        return QStringLiteral("0");
    const double missing = double(statistics.requiredCount - statistics.foundCount);
    return formatRounded(missing / double(statistics.requiredCount) * 100, 2, decimalSeparator);
}

LoadSummary makeSummary(const QString &path, const LoadStatistics &statistics, const QString &percent)
{
    const QString days = statistics.postedDaysAgo ? QString::number(*statistics.postedDaysAgo) : QStringLiteral("?");
    return {{
        singleLogLine(QLatin1String("NZB file: ") + path),
        QLatin1String("Files found: ") + QString::number(statistics.fileCount),
        QLatin1String("Message-ID's required: ") + QString::number(statistics.requiredCount),
        QLatin1String("Message-ID's found: ") + QString::number(statistics.foundCount),
        QLatin1String("Message-ID's missing from the NZB: ")
            + QString::number(statistics.requiredCount - statistics.foundCount) + QLatin1String(" (") + percent
            + QLatin1String("%)"),
        QLatin1String("The files were posted ") + days + QLatin1String(" day(s) ago."),
    }};
}

QStringList incompleteWarning(qint64 missing, const QString &percent)
{
    return {
        QLatin1String("NZB successfully loaded, but ") + QString::number(missing)
            + QLatin1String(" of the required Message-ID's is/are missing from the NZB file. "),
        QString(),
        QLatin1String("This means that at least ") + percent
            + QLatin1String("% of the data can't be downloaded with this NZB file. "),
        QLatin1String("The data wasn't fully uploaded, the poster is still busy with uploading or the NZB file "),
        QLatin1String("is damaged."),
    };
}

// A number or size that is missing, not a number or out of range counts as not given.
SegmentInfo segmentInfo(pugi::xml_node segment, int position)
{
    // One pass over the attributes and no locale: a million segments make this a hot loop.
    const auto value = [](pugi::xml_attribute attribute) {
        const char *text = attribute.value();
        long long number = 0;
        const auto [end, error] = std::from_chars(text, text + std::strlen(text), number);
        return error == std::errc() && *end == '\0' ? number : 0;
    };
    SegmentInfo info{position, 0};
    for (pugi::xml_attribute attribute = segment.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        const char *name = attribute.name();
        if (std::strcmp(name, "number") == 0) {
            const long long number = value(attribute);
            if (number >= 1 && number <= std::numeric_limits<std::int32_t>::max())
                info.number = std::int32_t(number);
        } else if (std::strcmp(name, "bytes") == 0) {
            const long long bytes = value(attribute);
            info.bytes = bytes > 0 && bytes <= std::numeric_limits<std::int32_t>::max() ? std::int32_t(bytes) : 0;
        }
    }
    return info;
}

NzbLoadResult buildModel(const pugi::xml_document &document, const QString &path, const LoadOptions &options)
{
    const std::vector<pugi::xml_node> files = fileElements(document);
    if (files.empty())
        return failure(NoFileElements, QStringLiteral("The NZB file lists no files."));

    // Sizes first, so the queue is allocated once instead of growing.
    qsizetype segmentTotal = 0;
    qsizetype idBytes = 0;
    QByteArray scratch;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!files[i].attribute("subject"))
            return failure(FileWithoutSubject,
                           QStringLiteral("File %1 of the NZB file has no subject.").arg(i + 1));
        forEachNested(files[i], "segments", "segment", [&](pugi::xml_node segment) {
            ++segmentTotal;
            idBytes += bareMessageId(elementText(segment, scratch)).size();
            return true;
        });
    }

    NzbContents contents;
    contents.groupName = options.previousGroupName;
    contents.items.reserve(files.size());
    contents.articleQueue.reserve(segmentTotal, idBytes);
    contents.segments.reserve(size_t(segmentTotal));
    std::optional<qint64> lastDate;
    LoadStatistics &statistics = contents.statistics;

    for (const pugi::xml_node file : files) {
        const int index = int(contents.items.size()) + 1;
        const QString subjectText = QString::fromUtf8(file.attribute("subject").value());
        NzbItem item;
        item.announced = subject::AnnouncedPartCount(subjectText);
        item.fileName = subject::FileNameFromSubject(subjectText);
        item.name = options.namesOnly ? item.fileName : subject::SubjectWithoutCounter(subjectText);
        item.subject = subjectText;
        if (const auto date = parseDate(file.attribute("date").value()))
            lastDate = date;
        forEachNested(file, "groups", "group", [&](pugi::xml_node group) {
            contents.groupName = QString::fromUtf8(trimXmlSpace(elementText(group, scratch)));
            return false;
        });
        forEachNested(file, "segments", "segment", [&](pugi::xml_node segment) {
            contents.articleQueue.append(index, bareMessageId(elementText(segment, scratch)), contents.segments.size());
            ++item.segmentCount;
            contents.segments.push_back(segmentInfo(segment, item.segmentCount));
            return true;
        });
        statistics.requiredCount += item.announced;
        statistics.foundCount += item.segmentCount;
        contents.items.push_back(std::move(item));
    }
    statistics.fileCount = int(contents.items.size());
    if (lastDate)
        statistics.postedDaysAgo = daysSincePosted(*lastDate, options.now);

    const QString percent = missingPercent(statistics, options.decimalSeparator);
    contents.summary = makeSummary(trimBlanks(path), statistics, percent);

    NzbLoadResult result;
    result.kind = NzbLoadResult::Kind::Loaded;
    if (statistics.foundCount < statistics.requiredCount)
        result.warningLines = incompleteWarning(statistics.requiredCount - statistics.foundCount, percent);
    result.model = std::make_unique<NzbModel>(std::move(contents));
    return result;
}

// `original` gives the bytes again when a parse error needs its line counted:
// the parser works in place and overwrites the text it has read.
NzbLoadResult parseAndBuild(QByteArray bytes, const QString &path, const LoadOptions &options,
                            const std::function<QByteArray()> &original)
{
    if (const auto error = nzbtext::prepareText(bytes))
        return parseError(error->code, nzbtext::lineAtOffset(bytes, error->offset), error->reason);

    pugi::xml_document document;
    // parse_doctype stays off: the parser skips a remaining declaration and never fetches or expands entities.
    const pugi::xml_parse_result parsed =
        document.load_buffer_inplace(bytes.data(), size_t(bytes.size()), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        QByteArray text = original();
        nzbtext::prepareText(text);
        return parseError(int(parsed.status), nzbtext::lineAtOffset(text, qsizetype(parsed.offset)),
                          QString::fromUtf8(parsed.description()));
    }
    return buildModel(document, path, options);
}

QString sizeText(qint64 bytes)
{
    if (bytes > 0 && bytes % (1 << 20) == 0)
        return QString::number(bytes >> 20) + QLatin1String(" MiB");
    return QString::number(bytes) + QLatin1String(" bytes");
}

// Reads a pipe or a device piece by piece, so that one without end costs no more than the bound.
QByteArray readAtMost(QFile &file, qint64 largest)
{
    QByteArray bytes;
    while (bytes.size() <= largest) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty())
            break;
        bytes += piece;
    }
    return bytes;
}

std::optional<NzbLoadResult> readWholeFile(const QString &path, qint64 largest, QByteArray &bytes)
{
    const QFileInfo info(path);
    if (!info.exists())
        return failure(FileNotFound, QStringLiteral("File not found"));
    if (info.isDir())
        return failure(PathFileAccessError, QStringLiteral("Path/File access error: the path names a folder"));
    const auto tooLarge = [largest] {
        return failure(UnpackedTooLarge, QLatin1String("The NZB file is too large: it is over ") + sizeText(largest));
    };
    if (info.size() > largest)
        return tooLarge();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::PermissionsError)
            return failure(PermissionDenied, QStringLiteral("Permission denied"));
        return failure(PathFileAccessError, QStringLiteral("Path/File access error: ") + file.errorString());
    }
    bytes = info.isFile() ? file.readAll() : readAtMost(file, largest);
    if (file.error() != QFileDevice::NoError)
        return failure(PathFileAccessError, QStringLiteral("Path/File access error: ") + file.errorString());
    if (bytes.size() > largest)
        return tooLarge();
    return std::nullopt;
}

// Replaces gzip-compressed bytes by their content; plain bytes stay as they are.
std::optional<NzbLoadResult> unpackIfCompressed(QByteArray &bytes, const LoadOptions &options)
{
    if (!gzip::looksCompressed(bytes))
        return std::nullopt;
    gzip::Unpacked unpacked = gzip::unpack(bytes, qsizetype(qMax<qint64>(options.largestUnpacked, 0)));
    switch (unpacked.status) {
    case gzip::Unpacked::Status::Ok:
        bytes = std::move(unpacked.text);
        return std::nullopt;
    case gzip::Unpacked::Status::TooLarge:
        return failure(UnpackedTooLarge, QLatin1String("The NZB file is too large: unpacked, it is over ")
                                             + sizeText(options.largestUnpacked));
    case gzip::Unpacked::Status::Invalid:
        break;
    }
    return failure(InvalidGzip, QLatin1String("The file is not a valid gzip file: ") + unpacked.problem);
}

} // namespace

QString NzbLoadResult::boxTitle() const
{
    return kind == Kind::ParseError ? QStringLiteral("Orvalis") : QStringLiteral("Error loading NZB");
}

QStringList NzbLoadResult::boxLines() const
{
    if (kind == Kind::ParseError) {
        return {
            QLatin1String("Error number: ") + QString::number(errorNumber),
            QLatin1String("Error line: ") + QString::number(errorLine),
            QLatin1String("Error reason: ") + errorReason,
            QStringLiteral("Something is wrong with this NZB file and it can not be parsed."),
            QStringLiteral("Make sure you import a valid NZB/xml file."),
        };
    }
    return {QString::number(errorNumber) + QLatin1String(" - ") + errorReason};
}

QString joinBoxLines(const QStringList &lines)
{
    return lines.join(QLatin1String("\r\n"));
}

NzbLoadResult LoadNzb(const QString &path, const LoadOptions &options)
{
    const QString filePath = trimBlanks(path);
    try {
        QByteArray bytes;
        const qint64 largest = qMax<qint64>(options.largestUnpacked, 0);
        if (auto failed = readWholeFile(filePath, largest, bytes))
            return std::move(*failed);
        // A pipe cannot be read twice: its bytes are kept for counting a parse error's line.
        if (!QFileInfo(filePath).isFile())
            return LoadNzbFromBytes(std::move(bytes), path, options);
        if (auto failed = unpackIfCompressed(bytes, options))
            return std::move(*failed);
        return parseAndBuild(std::move(bytes), path, options, [&filePath, &options, largest] {
            QByteArray again;
            readWholeFile(filePath, largest, again);
            unpackIfCompressed(again, options);
            return again;
        });
    } catch (const std::bad_alloc &) {
        return failure(OutOfMemory, QStringLiteral("Out of memory"));
    }
}

NzbLoadResult LoadNzbFromBytes(QByteArray bytes, const QString &path, const LoadOptions &options)
{
    try {
        if (auto failed = unpackIfCompressed(bytes, options))
            return std::move(*failed);
        const QByteArray original = bytes;
        bytes.detach();
        return parseAndBuild(std::move(bytes), path, options, [&original] { return original; });
    } catch (const std::bad_alloc &) {
        return failure(OutOfMemory, QStringLiteral("Out of memory"));
    }
}
