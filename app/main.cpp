// Orvalis: tells whether the posts of an NZB file still exist on the user's newsservers.

#include "settings/SettingsFile.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstring>

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Orvalis"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVALIS_VERSION));
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Checks whether the posts of an NZB file still exist."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE.nzb"), QStringLiteral("An NZB file to load at start."));
}

// --help and --version answer without a window, so they work without a display too.
bool asksForHelpOrVersion(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        nameApplication();
        QCommandLineParser parser;
        describe(parser);
        parser.process(app); // prints and exits
        return 0;
    }

    QApplication app(argc, argv);
    nameApplication();
    // Lets the desktop match the window to orvalis.desktop, its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("orvalis"));
    MainWindow window(nullptr, DefaultSettingsPath());
    window.show();
    window.showSettingsProblem();
    // The path may arrive split at its blanks; joined again it is one command line.
    window.loadFromCommandLine(QApplication::arguments().mid(1).join(u' '));
    return app.exec();
}
