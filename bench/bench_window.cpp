// The check through the window: loads an NZB in the real main window (offscreen), checks it
// against one server and prints the answers per second once "Finished checking NZB file." shows.
//   QT_QPA_PLATFORM=offscreen orvalis-bench-window NZB PORT CONNECTIONS

#include "servers/ServerListModel.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include <cstdio>

namespace {

class QuitWhenFinished : public UserPrompts
{
public:
    void showMessage(Icon, const QString &, const QString &text) override
    {
        if (text == QLatin1String("Finished checking NZB file."))
            QCoreApplication::quit();
    }
    QString openNzbPath() override { return {}; }
    QString saveLogPath() override { return {}; }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s NZB PORT CONNECTIONS\n", argv[0]);
        return 64;
    }
    MainWindow window(std::make_unique<QuitWhenFinished>());
    window.servers().appendServer({QStringLiteral("bench"), QStringLiteral("127.0.0.1"), QString::fromLatin1(argv[2]),
                                   QString::fromLatin1(argv[3]), QString(), QStringLiteral("K01"), true},
                                  true);
    window.show();
    window.loadNzb(QString::fromLocal8Bit(argv[1]));
    const qsizetype answers = window.nzb().articleQueue().count();
    QElapsedTimer clock;
    clock.start();
    window.findChild<QPushButton *>(QStringLiteral("cmdCheck"))->click();
    app.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("%lld answers in %.3f s: %.0f answers/s\n", qlonglong(answers), seconds, double(answers) / seconds);
}
