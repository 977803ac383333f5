#pragma once

#include <QList>

namespace bench {

// Runs the event loop until the Chromium trees under pids use almost no CPU
// (at most maxMs), so one measurement does not pay for the previous one's
// background work. Returns the milliseconds waited.
double settle(const QList<qint64> &pids, int maxMs = 15000);

// Runs the event loop for ms.
void spin(int ms);

} // namespace bench
