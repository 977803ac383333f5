#include "engine_recorder.h"

#include "engine/chromium_locator.h"

using namespace engine;

EngineRecorder::EngineRecorder(Browser *browser, QObject *parent) : QObject(parent)
{
    connect(browser, &Browser::documentComplete, this,
            [this](bool topLevel, const QString &url, const QStringList &anchors) {
                events.append({Complete, topLevel, url, anchors, {}, {}});
            });
    connect(browser, &Browser::linksRead, this, [this](const QString &url, const Links &links) {
        QStringList hrefs;
        for (const Link &link : links)
            hrefs.append(link.href);
        events.append({Complete, true, url, hrefs, {}, links});
    });
    connect(browser, &Browser::navigateError, this, [this](const QString &url, const QString &reason) {
        events.append({NavigateError, false, url, {}, reason, {}});
    });
    connect(browser, &Browser::engineError, this, [this](const QString &reason) {
        events.append({EngineError, false, {}, {}, reason, {}});
    });
    connect(browser, &Browser::pageNotice, this, [this](const QString &url, PageNotice kind, const QString &message) {
        events.append({Notice, false, url, {}, message, {}, kind});
    });
}

int EngineRecorder::count(Kind kind) const
{
    return int(std::count_if(events.cbegin(), events.cend(), [kind](const Event &e) { return e.kind == kind; }));
}

QList<EngineRecorder::Event> EngineRecorder::topLevel() const
{
    QList<Event> result;
    for (const Event &e : events) {
        if (e.kind == Complete && e.topLevel)
            result.append(e);
    }
    return result;
}

QList<EngineRecorder::Event> EngineRecorder::frames() const
{
    QList<Event> result;
    for (const Event &e : events) {
        if (e.kind == Complete && !e.topLevel)
            result.append(e);
    }
    return result;
}

QString EngineRecorder::lastReason() const
{
    for (auto it = events.crbegin(); it != events.crend(); ++it) {
        if (it->kind != Complete && it->kind != Notice)
            return it->reason;
    }
    return {};
}

HarvestPath harvestPathUnderTest()
{
    return qEnvironmentVariable("VELMORA_TEST_HARVEST") == QLatin1String("evaluate") ? HarvestPath::Evaluate
                                                                                     : HarvestPath::Binding;
}

bool engineIsHeadlessShell()
{
    return engine::locateChromium(engine::LocatorInput::systemInputs())
        .executable.endsWith(QLatin1String("headless-shell"));
}
