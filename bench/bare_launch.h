#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace bench {

// The switches of Chromium run as bare as it runs: headless, a fresh profile
// in the folder profile, and --no-sandbox as root, where it refuses to start
// without.
QStringList bareSwitches(const QString &profile);

// Chromium started with those switches and the pipe, nothing else. Returns
// the milliseconds from the launch to the answer to its first DevTools call:
// what the engine's own start is measured against.
std::optional<double> bareFirstReplyMs(const QString &executable, QString *error);

} // namespace bench
