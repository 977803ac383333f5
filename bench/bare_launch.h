#pragma once

#include <QString>

#include <optional>

namespace bench {

// Chromium started as bare as it runs: the pipe, a fresh profile and nothing
// else (--no-sandbox as root, where it refuses to start without). Returns the
// milliseconds from the launch to the answer to its first DevTools call: what
// the engine's own start is measured against.
std::optional<double> bareFirstReplyMs(const QString &executable, QString *error);

} // namespace bench
