#pragma once

#include <QString>

namespace engine {

// The Chinese sentence shown when Chromium could not load url; errorText is
// Chromium's code, such as "net::ERR_CONNECTION_REFUSED".
QString navigationErrorReason(const QString &url, const QString &errorText);
// The sentence shown when url turned out to be a file to download.
QString downloadReason(const QString &url);

} // namespace engine
