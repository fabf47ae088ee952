// Orvalis: tells whether the posts of an NZB file still exist on the user's newsservers.

#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvalis"));
    QApplication::setApplicationVersion(QStringLiteral(ORVALIS_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Checks whether the posts of an NZB file still exist."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.nzb"), QStringLiteral("An NZB file to load at start."));
    // Unknown options are part of the path, so only --help and --version are taken from the line.
    const QStringList arguments = QApplication::arguments();
    if (parser.parse(arguments) && (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))))
        parser.process(arguments);

    MainWindow window;
    window.show();
    // The path may arrive split at its blanks; joined again it is one command line.
    window.loadFromCommandLine(arguments.mid(1).join(u' '));
    return app.exec();
}
