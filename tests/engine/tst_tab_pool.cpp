// The tab rules against a scripted Chromium: which tab is current, parked
// and closed when, what either harvest path reports, and that a lost engine
// leaves nothing waiting. Each runs in milliseconds, the same way every time.
#include "engine/devtools_connection.h"
#include "engine/harvest_readers.h"
#include "engine/scoped_harvest.h"
#include "engine/tab_pool.h"
#include "scripted_chromium.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace engine;

namespace {

constexpr int waitMs = 2000;

// The evaluate path's read of http://a/, whole in its first part.
QString onePart(const QStringList &links)
{
    const QJsonObject part{
        {"url", "http://a/"}, {"part", 0}, {"parts", 1}, {"links", QJsonArray::fromStringList(links)}};
    return QString::fromUtf8(QJsonDocument(part).toJson(QJsonDocument::Compact));
}

// One Chromium's tabs over a scripted pipe, with short timings; what the
// pool reports goes into log as "complete URL N", "frame URL", "error URL",
// "hung" or "broken".
struct Rig
{
    explicit Rig(bool wantBinding = true, int settleMs = 100) : connection(&chromium)
    {
        TabPoolSettings settings;
        settings.wantBinding = wantBinding;
        settings.tab.callTimeoutMs = 1000;
        settings.tab.leaveStartMs = 200;
        settings.tab.leaveLoadMs = 200;
        settings.tab.settleMs = settleMs;
        settings.parkMs = 100;
        settings.closeCheckMs = 20;
        settings.closeAttempts = 5;
        pool = std::make_unique<TabPool>(&connection, settings);
        QObject::connect(
            pool.get(), &TabPool::documentComplete, [this](bool top, const QString &url, const QStringList &links) {
                log.append(top ? QStringLiteral("complete %1 %2").arg(url).arg(links.size()) : "frame " + url);
            });
        QObject::connect(pool.get(), &TabPool::navigateError,
                         [this](const QString &url, const QString &) { log.append("error " + url); });
        QObject::connect(pool.get(), &TabPool::hung, [this] { log.append("hung"); });
        QObject::connect(pool.get(), &TabPool::broken, [this] { log.append("broken"); });
    }

    // The tab Chromium starts with, set up as the spare.
    bool start()
    {
        QSignalSpy ready(pool.get(), &TabPool::ready);
        pool->adopt(QStringLiteral("T0"));
        return QTest::qWaitFor([&] { return !ready.isEmpty() || !chromium.isOpen(); }, waitMs) && !ready.isEmpty();
    }
    // The session the current page loads in.
    QString current() const
    {
        return pool->current() ? ScriptedChromium::sessionOf(pool->current()->targetId()) : QString();
    }
    // Navigates to url and lets Chromium load and report it.
    QString load(const QString &url, const QStringList &links = {QStringLiteral("http://x/")})
    {
        pool->navigate(url);
        if (!QTest::qWaitFor([this] { return !current().isEmpty(); }, waitMs))
            return {};
        const QString session = current();
        chromium.commit(session, url);
        chromium.report(session, url, links);
        return session;
    }
    qsizetype sentCount(const QString &method, const QString &session) const
    {
        return chromium.sentOf(method, session).size();
    }
    bool left(const QString &session) const
    {
        const auto navigations = chromium.sentOf(QStringLiteral("Page.navigate"), session);
        return !navigations.isEmpty()
            && navigations.last().params.value("url").toString() == QLatin1String("about:blank");
    }

    ScriptedChromium chromium;
    DevToolsConnection connection;
    std::unique_ptr<TabPool> pool;
    QStringList log;
};

} // namespace

class TabPoolTest final : public QObject
{
    Q_OBJECT

private slots:
    void aReadPageWaitsUntilItsSuccessorIsRead_data()
    {
        QTest::addColumn<QString>("sendsItAway");
        QTest::newRow("the successor is read") << "read";
        QTest::newRow("it waited long enough") << "time";
        QTest::newRow("it starts loading again") << "moves";
    }

    void aReadPageWaitsUntilItsSuccessorIsRead()
    {
        QFETCH(QString, sendsItAway);
        Rig rig;
        QVERIFY(rig.start());
        const QString read = rig.load("http://a/");
        QVERIFY(!read.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(rig.log, QStringList{"complete http://a/ 1"}, waitMs);
        // The next tab is set up while the list is looked at.
        QTRY_VERIFY_WITH_TIMEOUT(rig.pool->spare(), waitMs);

        rig.pool->navigate("http://b/");
        const QString next = rig.current();
        QVERIFY(next != read);
        QTRY_COMPARE_WITH_TIMEOUT(rig.sentCount("Emulation.setScriptExecutionDisabled", read), 1, waitMs);
        QTest::qWait(20);
        QVERIFY(!rig.left(read));

        if (sendsItAway == QLatin1String("read")) {
            rig.chromium.commit(next, "http://b/");
            rig.chromium.report(next, "http://b/", {});
            QTRY_COMPARE_WITH_TIMEOUT(rig.log.size(), 2, waitMs);
        } else if (sendsItAway == QLatin1String("moves")) {
            rig.chromium.event(read, "Page.frameStartedLoading", {{"frameId", "F-" + read}});
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.left(read), waitMs);
        // Closed once about:blank has loaded; Chromium says when it is gone.
        QCOMPARE(rig.chromium.sentOf("Target.closeTarget").size(), 0);
        rig.chromium.event(read, "Page.loadEventFired");
        QTRY_COMPARE_WITH_TIMEOUT(rig.chromium.sentOf("Target.closeTarget").size(), 1, waitMs);
        QCOMPARE(rig.chromium.sentOf("Target.closeTarget")[0].params.value("targetId").toString(), "T0");
        QVERIFY(!rig.log.contains("hung") && !rig.log.contains("broken"));
    }

    void aTabChromiumKeepsIsAskedToCloseAgain_data()
    {
        QTest::addColumn<bool>("keeps");
        QTest::addColumn<int>("asked");
        QTest::newRow("closes") << false << 1;
        QTest::newRow("keeps it") << true << 5;
    }

    void aTabChromiumKeepsIsAskedToCloseAgain()
    {
        QFETCH(bool, keeps);
        QFETCH(int, asked);
        Rig rig;
        rig.chromium.keepsClosedTabs = keeps;
        QVERIFY(rig.start());
        // A popup a page opened: nobody will look at it.
        rig.chromium.event({}, "Target.targetCreated",
                           {{"targetInfo", QJsonObject{{"targetId", "P"}, {"type", "page"}, {"openerId", "T0"}}}});
        QTRY_COMPARE_WITH_TIMEOUT(rig.chromium.sentOf("Target.closeTarget").size(), asked, waitMs);
        QTest::qWait(150);
        QCOMPARE(rig.chromium.sentOf("Target.closeTarget").size(), asked);
    }

    void aStalledLoadNeverBlocksTheNextAndFallsSilent()
    {
        Rig rig;
        rig.chromium.answer("Page.navigate",
                            [](const ScriptedChromium::Command &command) -> std::optional<QJsonObject> {
                                if (command.params.value("url").toString() == QLatin1String("http://stalled/"))
                                    return std::nullopt;
                                return QJsonObject{{"frameId", "F"}};
                            });
        QVERIFY(rig.start());
        rig.pool->navigate("http://stalled/");
        const QString stalled = rig.current();
        const int stalledCall = rig.chromium.sentOf("Page.navigate", stalled).value(0).id;
        QVERIFY(stalledCall > 0);

        const QString next = rig.load("http://b/");
        QVERIFY(next != stalled);
        QTRY_COMPARE_WITH_TIMEOUT(rig.log, QStringList{"complete http://b/ 1"}, waitMs);
        // Never read, so it goes at once; what it says from now on is ignored.
        QVERIFY(rig.left(stalled));
        rig.chromium.reply(stalledCall);
        rig.chromium.commit(stalled, "http://stalled/");
        rig.chromium.report(stalled, "http://stalled/", {"http://late/"});
        rig.chromium.event(stalled, "Inspector.targetCrashed");
        QTest::qWait(30);
        QCOMPARE(rig.log, QStringList{"complete http://b/ 1"});
    }

    void theEvaluatePathReadsInAWorldMadeAtCommit_data()
    {
        QTest::addColumn<bool>("wantBinding");
        QTest::addColumn<bool>("bindingRefused");
        QTest::addColumn<bool>("loadFirst");
        QTest::addColumn<QString>("ends"); // the event that ends the document's load
        QTest::newRow("world first") << false << false << false << "Page.loadEventFired";
        QTest::newRow("load before the world") << false << false << true << "Page.loadEventFired";
        QTest::newRow("the binding refused") << true << true << false << "Page.loadEventFired";
        QTest::newRow("stopped by the page") << false << false << false << "Page.frameStoppedLoading";
        // The binding path reads such a page the same way, its world made then.
        QTest::newRow("stopped by the page, binding path") << true << false << false << "Page.frameStoppedLoading";
    }

    void theEvaluatePathReadsInAWorldMadeAtCommit()
    {
        QFETCH(bool, wantBinding);
        QFETCH(bool, bindingRefused);
        QFETCH(bool, loadFirst);
        QFETCH(QString, ends);
        Rig rig(wantBinding);
        ScriptedChromium &chromium = rig.chromium;
        if (bindingRefused) {
            chromium.answer("Runtime.addBinding", [&chromium](const ScriptedChromium::Command &command) {
                chromium.refuse(command.id, "Binding not supported");
                return std::nullopt;
            });
        }
        chromium.answer("Runtime.evaluate", [](const ScriptedChromium::Command &) {
            return QJsonObject{
                {"result", QJsonObject{{"type", "string"}, {"value", onePart({"http://a/1", "http://a/2"})}}}};
        });
        if (loadFirst)
            chromium.hold("Page.createIsolatedWorld");
        QVERIFY(rig.start());
        rig.pool->navigate("http://a/");
        const QString page = rig.current();
        chromium.commit(page, "http://a/");
        const bool bindingPath = wantBinding && !bindingRefused;
        if (bindingPath) {
            QTest::qWait(20);
            QCOMPARE(chromium.sentOf("Page.createIsolatedWorld", page).size(), 0);
        } else {
            // Made at commit, before the load event.
            QTRY_COMPARE_WITH_TIMEOUT(chromium.sentOf("Page.createIsolatedWorld", page).size(), 1, waitMs);
        }
        chromium.event(page, ends, {{"frameId", "F-" + page}});
        if (loadFirst) {
            QTest::qWait(20);
            QCOMPARE(chromium.sentOf("Runtime.evaluate").size(), 0);
            chromium.reply(chromium.sentOf("Page.createIsolatedWorld", page)[0].id, {{"executionContextId", 7}});
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.log, QStringList{"complete http://a/ 2"}, waitMs);
        const auto evaluations = chromium.sentOf("Runtime.evaluate", page);
        QCOMPARE(evaluations.size(), 1);
        QCOMPARE(evaluations[0].params.value("contextId").toInt(), 7);
    }

    // A page left to settle, on the binding path: its requests are in flight
    // at the load event, so its links are read again later, and reported once.
    void aSettlingPageIsReportedOnce_data()
    {
        QTest::addColumn<bool>("answers"); // the renderer answers the reads
        // The read after the requests ended is still unanswered when the bound
        // comes and a second read is sent: the two answers make one report.
        QTest::newRow("two reads answer") << true;
        // Nothing answers: what the load event gave is kept, not lost.
        QTest::newRow("too busy to be read again") << false;
    }

    void aSettlingPageIsReportedOnce()
    {
        QFETCH(bool, answers);
        Rig rig(true, 300);
        QVERIFY(rig.start());
        rig.chromium.hold(QStringLiteral("Runtime.evaluate"));
        rig.pool->navigate("http://a/");
        QVERIFY(QTest::qWaitFor([&] { return !rig.current().isEmpty(); }, waitMs));
        const QString session = rig.current();
        rig.chromium.commit(session, "http://a/");
        rig.chromium.event(session, "Network.requestWillBeSent", {{"requestId", "R1"}, {"type", "XHR"}});
        rig.chromium.report(session, "http://a/", {"http://x/"});
        if (answers)
            rig.chromium.event(session, "Network.loadingFinished", {{"requestId", "R1"}});
        // The anchors' watch, the read once R1 was quiet, the read at the bound
        // (on a slow machine a read may be asked again: at least these).
        QTRY_VERIFY_WITH_TIMEOUT(rig.sentCount(QStringLiteral("Runtime.evaluate"), session) >= (answers ? 3 : 2),
                                 waitMs);
        if (answers) {
            const QString value = onePart({"http://x/", "http://y/"});
            for (const auto &read : rig.chromium.sentOf(QStringLiteral("Runtime.evaluate"), session).mid(1))
                rig.chromium.reply(read.id, {{"result", QJsonObject{{"value", value}}}});
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.log, QStringList{answers ? "complete http://a/ 2" : "complete http://a/ 1"},
                                  waitMs);
        QCoreApplication::sendPostedEvents(); // where a second answer would wait
        QCOMPARE(rig.log.size(), 1);
    }

    void harvestPartsOutOfTurnAreDropped_data()
    {
        QTest::addColumn<QStringList>("reports");  // "part/parts url"
        QTest::addColumn<QStringList>("harvests"); // "url links"
        QTest::newRow("in turn") << QStringList{"0/2 a", "1/2 a"} << QStringList{"a 2"};
        QTest::newRow("one part") << QStringList{"0/1 a"} << QStringList{"a 1"};
        QTest::newRow("a part skipped") << QStringList{"0/3 a", "2/3 a"} << QStringList{};
        QTest::newRow("a part twice") << QStringList{"0/2 a", "0/2 a", "1/2 a"} << QStringList{"a 2"};
        QTest::newRow("parts of two documents") << QStringList{"0/2 a", "1/2 b"} << QStringList{};
        QTest::newRow("a count that changes") << QStringList{"0/2 a", "1/3 a"} << QStringList{};
        QTest::newRow("no first part") << QStringList{"1/2 a"} << QStringList{};
        QTest::newRow("a new document starts again")
            << QStringList{"0/2 a", "0/1 b", "0/2 c", "1/2 c"} << QStringList{"b 1", "c 2"};
        QTest::newRow("not JSON, then in turn") << QStringList{"garbage", "0/1 a"} << QStringList{"a 1"};
    }

    void harvestPartsOutOfTurnAreDropped()
    {
        QFETCH(QStringList, reports);
        QFETCH(QStringList, harvests);
        PlainParts harvest(scripts::defaultHarvestUnits);
        LinkParts scoped; // the reader's parts keep the same turns
        QStringList got, gotScoped;
        for (const QString &report : reports) {
            QString payload = report;
            const QStringList fields = report.split(QRegularExpression("[/ ]"));
            if (fields.size() == 3) {
                const QJsonObject object{{"part", fields[0].toInt()},
                                         {"parts", fields[1].toInt()},
                                         {"url", fields[2]},
                                         {"links", QJsonArray{fields[2] + "/link"}}};
                payload = QString::fromUtf8(QJsonDocument(object).toJson());
            }
            if (const auto links = harvest.add(payload))
                got.append(QStringLiteral("%1 %2").arg(links->url).arg(links->links.size()));
            if (const auto document = scoped.add(payload))
                gotScoped.append(QStringLiteral("%1 %2").arg(document->url).arg(document->links.size()));
        }
        QCOMPARE(got, harvests);
        QCOMPARE(gotScoped, harvests);
    }

    // The reader's details come as indexes from the page's renderer: each
    // lands on its own link or nowhere, whatever they say.
    void readerDetailsStayWithTheirLinks_data()
    {
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<QString>("links"); // href:flags:text length, in order
        QTest::newRow("flags in their part, the rest dropped")
            << QStringList{R"({"part":0,"parts":2,"url":"u","links":["a","b"],"flags":[0,1,2,2,-1,2,1e20,2,1]})",
                           R"({"part":1,"parts":2,"url":"u","links":["c"],"flags":[0,1,2,2,"x",2]})"}
            << "a:area:0 b::0 c:shadow:0";
        QTest::newRow("texts cut to the reader's length, missing ones empty")
            << QStringList{QStringLiteral(R"({"part":0,"parts":1,"url":"u","links":["a","b"],"texts":["%1"]})")
                               .arg(QString(400, QLatin1Char('t')))}
            << "a::300 b::0";
        QTest::newRow("more texts than links") << QStringList{R"({"part":0,"parts":1,"url":"u","links":["a"],)"
                                                              R"("texts":["x","y","z"],"flags":[0,3]})"}
                                               << "a:area+shadow:1";
    }

    void readerDetailsStayWithTheirLinks()
    {
        QFETCH(QStringList, reports);
        QFETCH(QString, links);
        LinkParts parts;
        std::optional<DocumentLinks> document;
        for (const QString &report : reports)
            document = parts.add(report);
        QVERIFY(document);
        QStringList got;
        for (const Link &link : std::as_const(document->links)) {
            QStringList flags;
            if (link.element == Link::Element::Area)
                flags.append(QStringLiteral("area"));
            if (link.inShadowTree)
                flags.append(QStringLiteral("shadow"));
            got.append(QStringLiteral("%1:%2:%3").arg(link.href, flags.join(QLatin1Char('+'))).arg(link.text.size()));
        }
        QCOMPARE(got.join(QLatin1Char(' ')), links);
    }

    void theEngineLostInAnyStateLeavesNothingWaiting_data()
    {
        QTest::addColumn<QString>("lostOn");
        QTest::newRow("attaching") << "Target.attachToTarget";
        QTest::newRow("setting up") << "Page.addScriptToEvaluateOnNewDocument";
        QTest::newRow("loading") << "Page.navigate";
        QTest::newRow("opening the spare") << "Target.createTarget";
        QTest::newRow("parking") << "Emulation.setScriptExecutionDisabled";
    }

    void theEngineLostInAnyStateLeavesNothingWaiting()
    {
        QFETCH(QString, lostOn);
        Rig rig;
        rig.chromium.hangUpOn(lostOn);
        if (rig.start() && !rig.load("http://a/").isEmpty()) {
            if (QTest::qWaitFor([&] { return rig.pool->spare() || !rig.chromium.isOpen(); }, waitMs))
                rig.pool->navigate("http://b/");
        }
        QTRY_VERIFY_WITH_TIMEOUT(!rig.chromium.isOpen(), waitMs);
        QTest::qWait(30);
        QCOMPARE(rig.connection.pendingCalls(), 0);
        // The lost pipe is the browser's to report; the pool says nothing.
        QVERIFY2(!rig.log.contains("hung") && !rig.log.contains("broken"), qPrintable(rig.log.join(", ")));
        QVERIFY(!rig.log.contains("complete http://b/ 1"));
    }
};

QTEST_GUILESS_MAIN(TabPoolTest)
#include "tst_tab_pool.moc"
