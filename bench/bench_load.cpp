// Loads an NZB through the core into the model, as the window does, and prints the time it took.
//   orvalis-bench-load FILE.nzb

#include "nzb/NzbLoader.h"

#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.nzb\n", argv[0]);
        return 64;
    }
    LoadOptions options;
    options.now = QDateTime::currentDateTime();
    QElapsedTimer timer;
    timer.start();
    const NzbLoadResult result = LoadNzb(QString::fromLocal8Bit(argv[1]), options);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!result.loaded()) {
        std::fprintf(stderr, "not loaded: %s\n", qPrintable(result.boxLines().join(u' ')));
        return 1;
    }
    std::printf("load %.3f s, %d items, %lld queued\n", seconds, result.model->itemCount(),
                static_cast<long long>(result.model->articleQueue().count()));
    return 0;
}
