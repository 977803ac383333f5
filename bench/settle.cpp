#include "settle.h"

#include "procfs.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace bench {

double settle(const QList<qint64> &pids, int maxMs)
{
    // Idle: the trees used at most 20 ms of CPU in a 250 ms window.
    constexpr int windowMs = 250;
    constexpr qint64 idleTicks = 2;
    QElapsedTimer clock;
    clock.start();
    auto ticks = [&] {
        qint64 total = 0;
        for (qint64 pid : pids)
            if (pid > 0)
                total += procfs::treeCpuTicks(pid);
        return total;
    };
    qint64 before = ticks();
    while (clock.elapsed() < maxMs) {
        spin(windowMs);
        const qint64 now = ticks();
        if (now - before <= idleTicks)
            break;
        before = now;
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
