#pragma once

#include <QProcessEnvironment>
#include <QStringList>

namespace engine {

// What the proxy variables of an environment ask of Chromium, as the switches
// it understands: the variables themselves never reach it.
struct ProxySettings
{
    // --proxy-server and --proxy-bypass-list, or none: connect directly.
    QStringList switches;
    // In Chinese, what was left out and why; never a password.
    QStringList warnings;
};

// Reads http_proxy, https_proxy, all_proxy and no_proxy as curl does: lower
// case before upper case, a blank value as unset, all_proxy for a scheme
// without its own, a scheme-less value as an http:// proxy, no_proxy "*" as
// no proxy at all. Credentials are dropped (Chromium's command line is
// public), and so are values that are no proxy address, each with a warning.
ProxySettings proxySettings(const QProcessEnvironment &environment);

} // namespace engine
