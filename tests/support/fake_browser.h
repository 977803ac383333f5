#pragma once

#include "engine/browser.h"

// Records what the window asks of the engine; tests raise its events.
class FakeBrowser final : public engine::Browser
{
    Q_OBJECT
public:
    using engine::Browser::Browser;

    void start() override { ++starts; }
    void navigate(const QString &url) override { navigations.append(url); }
    Browser *addLane() override
    {
        auto *lane = new FakeBrowser(this);
        lanes.append(lane);
        return lane;
    }
    void setLinkScope(const engine::LinkScope &scope) override { linkScope = scope; }

    void completeTopLevel(const QStringList &anchors, const QString &url = QStringLiteral("http://page.test/"))
    {
        emit documentComplete(true, url, anchors);
    }
    // A top-level read with a scope set.
    void readLinks(const engine::Links &links, const QString &url = QStringLiteral("http://page.test/"))
    {
        emit linksRead(url, links);
    }
    void completeFrame(const QStringList &anchors, const QString &url = QStringLiteral("http://frame.test/"))
    {
        emit documentComplete(false, url, anchors);
    }

    void failNavigation(const QString &reason)
    {
        emit navigateError(navigations.value(navigations.size() - 1), reason);
    }

    void notice(engine::PageNotice kind, const QString &message,
                const QString &url = QStringLiteral("http://page.test/"))
    {
        emit pageNotice(url, kind, message);
    }

    int starts = 0;
    engine::LinkScope linkScope;
    QStringList navigations;
    QList<FakeBrowser *> lanes;
};
