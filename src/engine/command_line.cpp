#include "engine/command_line.h"

namespace engine {

QStringList chromiumArguments(const QString &profileDir, bool runningAsRoot, const QStringList &networkSwitches)
{
    QStringList args{
        QStringLiteral("--headless"),
        // DevTools over fds 3 and 4: no TCP port is ever opened.
        QStringLiteral("--remote-debugging-pipe"),
        QStringLiteral("--no-first-run"),
        QStringLiteral("--no-default-browser-check"),
        QStringLiteral("--disable-background-networking"),
        QStringLiteral("--disable-component-update"),
        QStringLiteral("--disable-sync"),
        QStringLiteral("--disable-gpu"),
        // Every site in its own renderer, as the full browser does by default:
        // the headless shell would otherwise run a cross-site frame in its
        // parent's process.
        QStringLiteral("--site-per-process"),
        // The link-click predictor measures every anchor after each rendering
        // frame and again after the load; nobody clicks in our tabs, and on a
        // page of 100,000 links that work took over a second.
        // HTTPS-Upgrades load https:// for a typed http:// address and fall back
        // only when https fails: the links of a site serving both would come
        // back as https://, which is not the address the user asked for. HSTS,
        // the site's own demand, still applies.
        // Chromium keeps one renderer process warm for the next new site; our
        // spare tab already waits with a renderer of its own, so Chromium's
        // would only hold memory. One switch: the last one wins.
        QStringLiteral("--disable-features=NavigationPredictor,HttpsUpgrades,SpareRendererForSitePerProcess"),
        QStringLiteral("--user-data-dir=") + profileDir,
    };
    // Chromium refuses to start as root with its sandbox; everyone else keeps it.
    if (runningAsRoot)
        args.append(QStringLiteral("--no-sandbox"));
    args += networkSwitches;
    // Without a URL the first tab loads chrome://newtab/, whose events would
    // leak into the first navigation.
    args.append(QStringLiteral("about:blank"));
    return args;
}

} // namespace engine
