#pragma once

#include <QString>
#include <QStringList>

namespace engine {

// The arguments Chromium is started with, networkSwitches (its proxy) among
// them. Pure, so the security-relevant choices (no TCP port, sandbox kept
// unless root) are testable.
QStringList chromiumArguments(const QString &profileDir, bool runningAsRoot, const QStringList &networkSwitches = {});

} // namespace engine
