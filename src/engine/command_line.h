#pragma once

#include <QString>
#include <QStringList>

namespace engine {

// The arguments Chromium is started with. Pure, so the security-relevant
// choices (no TCP port, sandbox kept unless root) are testable.
QStringList chromiumArguments(const QString &profileDir, bool runningAsRoot);

} // namespace engine
