// orvalis-check: the core of Orvalis on the command line, for scripts and tests.

#include "nzb/NzbLoader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

namespace {

enum ExitCode { Success = 0, ParseFailed = 2, LoadFailed = 3, UsageError = 64 };

void writeLine(std::FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
}

// Keeps one record per line: TAB, CR and LF inside a field become blanks.
QString singleLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

int usageError(const QString &message)
{
    writeLine(stderr, QStringLiteral("orvalis-check: ") + message);
    writeLine(stderr, QStringLiteral("Try 'orvalis-check --help'."));
    return UsageError;
}

void printModel(const NzbModel &model)
{
    for (const QString &line : model.summary().logLines())
        writeLine(stdout, line);
    writeLine(stdout, QStringLiteral("Group: ") + singleLine(model.groupName()));
    for (int index = 1; index <= model.itemCount(); ++index) {
        const NzbItem &item = model.item(index);
        writeLine(stdout, QString::number(index) + u'\t' + singleLine(item.name) + u'\t' + item.partsText());
    }
    const ArticleQueue &queue = model.articleQueue();
    for (qsizetype position = 1; position <= queue.count(); ++position)
        writeLine(stdout, singleLine(queue.entry(position).text()));
}

int dump(const QString &path, const LoadOptions &options)
{
    const NzbLoadResult result = LoadNzb(path, options);
    switch (result.kind) {
    case NzbLoadResult::Kind::Loaded:
        printModel(*result.model);
        if (!result.warningLines.isEmpty())
            writeLine(stderr, result.warningLines.join(u'\n'));
        return Success;
    case NzbLoadResult::Kind::ParseError:
        writeLine(stderr, result.boxLines().join(u'\n'));
        return ParseFailed;
    case NzbLoadResult::Kind::Failure:
        writeLine(stderr, QStringLiteral("Error loading NZB: ") + result.boxLines().join(u'\n'));
        return LoadFailed;
    }
    return LoadFailed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvalis-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALIS_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Loads an NZB file and prints what Orvalis reads from it."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption dumpOption(QStringLiteral("dump"), QStringLiteral("Print the loaded NZB: summary, group, items and queue."));
    const QCommandLineOption namesOnlyOption(QStringLiteral("names-only"), QStringLiteral("Show file names instead of subjects."));
    const QCommandLineOption nowOption(QStringLiteral("now"), QStringLiteral("Local date-time to count the post's age to."),
                                       QStringLiteral("YYYY-MM-DDTHH:MM:SS"));
    parser.addOptions({dumpOption, namesOnlyOption, nowOption});
    parser.addPositionalArgument(QStringLiteral("FILE.nzb"), QStringLiteral("The NZB file to load."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Success;
    }
    if (parser.isSet(versionOption)) {
        writeLine(stdout, QStringLiteral("orvalis-check ") + QStringLiteral(ORVALIS_VERSION));
        return Success;
    }
    if (!parser.isSet(dumpOption))
        return usageError(QStringLiteral("--dump is required."));
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("Name exactly one NZB file."));

    LoadOptions options;
    options.namesOnly = parser.isSet(namesOnlyOption);
    options.now = QDateTime::currentDateTime();
    if (parser.isSet(nowOption)) {
        options.now = QDateTime::fromString(parser.value(nowOption), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        if (!options.now.isValid())
            return usageError(QStringLiteral("--now takes a local date-time as YYYY-MM-DDTHH:MM:SS."));
    }
    return dump(parser.positionalArguments().constFirst(), options);
}
