// Pages that fight back, against real Chromium: dialogs that never stop,
// popups, pages that reload themselves for ever, odd targets and odd
// addresses. Each ends in a harvest or a clean report, Chromium is never
// restarted, and the next extraction works at once.
#include "devtools_call.h"
#include "engine/chromium_browser.h"
#include "engine/devtools_connection.h"
#include "engine/memory_watch.h"
#include "engine/proc_reader.h"
#include "engine_recorder.h"
#include "page_server.h"
#include "procfs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace engine;

namespace {

constexpr int loadTimeout = 30000;
// From asking for the next page to its harvest, after a hostile one. A
// healthy recovery takes well under a second; the bound leaves room for a
// loaded machine, not for waiting on the hostile page.
constexpr int recoverTimeout = 10000;
// What the renderers may hold here: far above any page of these tests but
// the one that grows without end.
constexpr qint64 memoryBound = qint64(1) << 30;
// What one harvest may hold here, in UTF-16 units: a few of the 1 MB links
// of the page that amplifies its own size, far above any other page's.
constexpr qint64 harvestBound = qint64(4) << 20;

// Holds what an asynchronous DevTools call answered, for as long as needed.
// Helpers check with QVERIFY too; a failure there must end the test function.
#define CHECKED(call)                                                                                                  \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

} // namespace

class HostilePagesTest final : public QObject
{
    Q_OBJECT

private:
    PageServer m_site;  // 127.0.0.1
    PageServer m_other; // reached as "localhost": another site, its frames run in another process
    std::unique_ptr<ChromiumBrowser> m_browser;
    std::unique_ptr<EngineRecorder> m_rec;
    qint64 m_pid = 0;                  // the Chromium every case must leave running
    QList<QJsonObject> m_dialogs;      // Page.javascriptDialogOpening params, in order
    QList<QJsonObject> m_createdPages; // Target.targetCreated infos of type page

    QString site(const QString &path) const { return m_site.url(path); }
    QString other(const QString &path) const { return m_other.url(path, QStringLiteral("localhost")); }

    void startBrowser()
    {
        m_rec.reset();
        ChromiumOptions options;
        options.memoryLimit = memoryBound;
        options.maxHarvestUnits = harvestBound;
        options.harvestPath = harvestPathUnderTest();
        m_browser = std::make_unique<ChromiumBrowser>(options);
        m_rec = std::make_unique<EngineRecorder>(m_browser.get());
        QSignalSpy ready(m_browser.get(), &ChromiumBrowser::ready);
        m_browser->start();
        QVERIFY2(ready.wait(loadTimeout), qPrintable(m_rec->lastReason()));
        m_pid = m_browser->processId();
        // What Chromium tells the engine, seen from the side.
        connect(m_browser->connection(), &DevToolsConnection::eventReceived, this,
                [this](const QString &, const QString &method, const QJsonObject &params) {
                    if (method == QLatin1String("Page.javascriptDialogOpening"))
                        m_dialogs.append(params);
                    const QJsonObject info = params.value(QLatin1String("targetInfo")).toObject();
                    if (method == QLatin1String("Target.targetCreated")
                        && info.value(QLatin1String("type")).toString() == QLatin1String("page"))
                        m_createdPages.append(info);
                });
    }

    // One DevTools call on the engine's own connection, waited for.
    void ask(const QString &method, const QJsonObject &params, const QString &session, DevToolsReply &answer)
    {
        answer = callAndWait(m_browser->connection(), method, params, session);
        QVERIFY2(answer.done, qPrintable(method + QStringLiteral(": no answer")));
        QVERIFY2(!answer.error.isError(), qPrintable(answer.error.message));
    }

    // Chromium's own list of its tabs.
    void pageTargets(QList<QJsonObject> &pages)
    {
        DevToolsReply answer;
        CHECKED(ask(QStringLiteral("Target.getTargets"), {}, {}, answer));
        pages.clear();
        const QJsonArray infos = answer.result.value(QLatin1String("targetInfos")).toArray();
        for (const auto &value : infos) {
            const QJsonObject info = value.toObject();
            if (info.value(QLatin1String("type")).toString() == QLatin1String("page"))
                pages.append(info);
        }
    }

    // Waits until no tab shows an address containing part, nor was opened by
    // a page, and only the engine's own two (current and spare) are left.
    void expectOnlyOurTabs(const QString &part)
    {
        QList<QJsonObject> pages;
        QString offending;
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            pageTargets(pages);
            offending.clear();
            for (const QJsonObject &page : std::as_const(pages)) {
                if (page.value(QLatin1String("url")).toString().contains(part)
                    || page.contains(QLatin1String("openerId")))
                    offending = page.value(QLatin1String("url")).toString();
            }
            if ((offending.isEmpty() && pages.size() <= 2) || clock.elapsed() > recoverTimeout)
                break;
            QTest::qWait(100);
        }
        QVERIFY2(offending.isEmpty(), qPrintable(QStringLiteral("still open: ") + offending));
        QStringList urls;
        for (const QJsonObject &page : std::as_const(pages))
            urls.append(page.value(QLatin1String("url")).toString());
        QVERIFY2(pages.size() <= 2, qPrintable(urls.join(QLatin1Char(' '))));
    }

    // The tab showing url, attached to with a session of our own (the
    // engine ignores sessions it did not open).
    void attachTo(const QString &url, QString &session)
    {
        QList<QJsonObject> pages;
        pageTargets(pages);
        QString targetId;
        for (const QJsonObject &page : std::as_const(pages)) {
            if (page.value(QLatin1String("url")).toString() == url)
                targetId = page.value(QLatin1String("targetId")).toString();
        }
        QVERIFY2(!targetId.isEmpty(), qPrintable(url));
        DevToolsReply answer;
        CHECKED(ask(QStringLiteral("Target.attachToTarget"),
                    {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}}, {}, answer));
        session = answer.result.value(QLatin1String("sessionId")).toString();
        QVERIFY(!session.isEmpty());
    }

    // As a click would: the page gets a user gesture for this one script.
    void runWithGesture(const QString &session, const QString &script)
    {
        DevToolsReply answer;
        CHECKED(ask(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), script}, {QStringLiteral("userGesture"), true}}, session, answer));
    }

    // The next extraction after a hostile page: it must be harvested at once,
    // on the same Chromium. Reports how long it took.
    void recover(const QString &what)
    {
        QElapsedTimer clock;
        clock.start();
        const qsizetype before = m_rec->topLevel().size();
        m_browser->navigate(site(QStringLiteral("/sentinel")));
        QTRY_VERIFY_WITH_TIMEOUT(m_rec->topLevel().size() > before
                                     && m_rec->topLevel().constLast().url == site(QStringLiteral("/sentinel")),
                                 recoverTimeout);
        qInfo("%s | next extraction harvested %lld ms after it was asked for", qPrintable(what), clock.elapsed());
        QCOMPARE(m_rec->topLevel().constLast().anchors, QStringList{site(QStringLiteral("/s"))});
        QCOMPARE(m_rec->count(EngineRecorder::EngineError), 0);
        QCOMPARE(m_browser->processId(), m_pid); // never crashed, never restarted
    }

    // A page that asks the server for path synchronously, then runs script:
    // once path is requested, script is running.
    static QByteArray signalThenRun(const QByteArray &path, const QByteArray &script)
    {
        return "<script>var x = new XMLHttpRequest(); x.open('GET', '" + path
            + "', false); x.send();</script>"
              "<script>"
            + script + "</script>";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_site.listen());
        QVERIFY(m_other.listen());
        startBrowser();
    }

    void init()
    {
        // A case that broke Chromium must not take the others down with it.
        if (!m_browser->isReady() || !procfs::isAlive(m_pid))
            startBrowser();
        m_rec->clear();
        m_dialogs.clear();
        m_createdPages.clear();
    }

    void dialogLoopsNeverHoldTheNextExtraction_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("running"); // requested once the loop runs

        // alert, confirm and prompt are harmless stand-ins, so these loops only spin.
        m_site.route(QStringLiteral("/loop/alert"),
                     "<a href=\"/a\">a</a>" + signalThenRun("/loop/alert/running", "while (true) alert('x');"));
        m_site.route(QStringLiteral("/loop/fresh-confirm"),
                     "<a href=\"/a\">a</a>"
                         + signalThenRun("/loop/fresh-confirm/running",
                                         "var f = document.createElement('iframe'); document.body.appendChild(f);"
                                         "var ask = f.contentWindow.confirm; while (true) ask('x');"));
        m_site.route(QStringLiteral("/loop/prompt"),
                     "<a href=\"/a\">a</a>" + signalThenRun("/loop/prompt/running", "while (true) prompt('x');"));
        m_other.route(QStringLiteral("/loop/frame"), signalThenRun("/loop/frame/running", "while (true) prompt('x');"));
        m_site.route(QStringLiteral("/loop/cross-site-prompt"),
                     "<a href=\"/a\">a</a><iframe src=\"" + other(QStringLiteral("/loop/frame")).toUtf8()
                         + "\"></iframe>");

        QTest::newRow("alert loop") << "/loop/alert"
                                    << "/loop/alert/running";
        QTest::newRow("confirm loop through a fresh frame") << "/loop/fresh-confirm"
                                                            << "/loop/fresh-confirm/running";
        QTest::newRow("prompt loop") << "/loop/prompt"
                                     << "/loop/prompt/running";
        QTest::newRow("prompt loop in a cross-site frame") << "/loop/cross-site-prompt"
                                                           << "/loop/frame/running";
    }

    void dialogLoopsNeverHoldTheNextExtraction()
    {
        QFETCH(QString, path);
        QFETCH(QString, running);

        m_browser->navigate(site(path));
        QTRY_VERIFY_WITH_TIMEOUT(m_site.requests().contains(running) || m_other.requests().contains(running),
                                 loadTimeout);
        // The page never finishes: nothing is harvested, nothing is reported.
        QVERIFY(m_rec->topLevel().isEmpty());
        QCOMPARE(m_rec->count(EngineRecorder::NavigateError), 0);

        CHECKED(recover(
            QStringLiteral("%1 | never finishes, nothing reported").arg(QString::fromLatin1(QTest::currentDataTag()))));
        CHECKED(expectOnlyOurTabs(QStringLiteral("/loop/")));
        QVERIFY(m_dialogs.isEmpty()); // no real dialog ever reached Chromium
        // Closing the wrong way brings Chromium down a second or so after the
        // tab is gone: the one after next must still find it running.
        QTest::qWait(2000);
        CHECKED(recover(QStringLiteral("%1 | the extraction after").arg(QString::fromLatin1(QTest::currentDataTag()))));
    }

    void dialogsFromTimersAreAnsweredWhileTheHarvestGoesOn()
    {
        // Headless Chromium runs a tab's timers about once a second, so a few
        // rounds are enough. A round counts only if each stand-in answered as
        // a dismissed dialog does.
        auto ticking = [](int rounds) {
            const QByteArray n = QByteArray::number(rounds);
            return "<script>var n = 0; setInterval(function () {"
                   "  alert('a');"
                   "  if (confirm('c') !== false || prompt('p', 'x') !== null) return;"
                   "  if (++n == "
                + n + ") fetch('/timers/" + n
                + "');"
                  "}, 5);</script>";
        };
        m_other.route(QStringLiteral("/timers/frame"), ticking(3));
        m_site.route(QStringLiteral("/timers/page"),
                     ticking(5)
                         + "<a href=\"/timers/link\">t</a>"
                           "<iframe src=\""
                         + other(QStringLiteral("/timers/frame")).toUtf8() + "\"></iframe>");
        m_browser->navigate(site(QStringLiteral("/timers/page")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_rec->topLevel().isEmpty(), loadTimeout);
        QCOMPARE(m_rec->topLevel().constFirst().anchors, QStringList{site(QStringLiteral("/timers/link"))});
        // Rounds in the page and in the cross-site frame, after the harvest as
        // before it, and not one of them a real dialog.
        QTRY_VERIFY_WITH_TIMEOUT(m_site.requests().contains(QStringLiteral("/timers/5")), loadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(m_other.requests().contains(QStringLiteral("/timers/3")), loadTimeout);
        QVERIFY(m_dialogs.isEmpty());
        QCOMPARE(m_rec->count(EngineRecorder::EngineError), 0);
        QCOMPARE(m_rec->topLevel().size(), 1);

        CHECKED(
            recover(QStringLiteral("dialogs from setInterval, page and cross-site frame | harvested, no real dialog")));
        CHECKED(expectOnlyOurTabs(QStringLiteral("/timers/")));
    }

    void beforeUnloadWithConfirmNeverHoldsThePage()
    {
        m_site.route(QStringLiteral("/leave"),
                     "<a href=\"/leave/link\">l</a><script>"
                     "window.onbeforeunload = function (e) {"
                     "  confirm('really?'); e.preventDefault(); e.returnValue = 'stay'; return 'stay'; };"
                     "</script>");
        m_site.route(QStringLiteral("/leave/next"), "<a href=\"/leave/next-link\">n</a>");
        m_browser->navigate(site(QStringLiteral("/leave")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_rec->topLevel().isEmpty(), loadTimeout);
        QCOMPARE(m_rec->topLevel().constFirst().anchors, QStringList{site(QStringLiteral("/leave/link"))});
        // Chromium asks before leaving only a page the user has touched: a
        // click that also sends the page on.
        QString session;
        CHECKED(attachTo(site(QStringLiteral("/leave")), session));
        CHECKED(runWithGesture(session,
                               QStringLiteral("setTimeout(function () { location.href = '/leave/next'; }, 0); 1")));
        QTRY_COMPARE_WITH_TIMEOUT(m_rec->topLevel().size(), 2, loadTimeout);
        QCOMPARE(m_rec->topLevel().constLast().anchors, QStringList{site(QStringLiteral("/leave/next-link"))});
        QVERIFY(std::any_of(m_dialogs.cbegin(), m_dialogs.cend(), [](const QJsonObject &dialog) {
            return dialog.value(QLatin1String("type")).toString() == QLatin1String("beforeunload");
        }));
        DevToolsReply detached;
        CHECKED(ask(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), session}}, {}, detached));

        CHECKED(recover(QStringLiteral("confirm() in onbeforeunload | leaving asked, allowed, next page harvested")));
        CHECKED(expectOnlyOurTabs(QStringLiteral("/leave")));
    }

    void forgedPageshowEventsNeverHarvest()
    {
        // Events cross worlds: a page that dispatches pageshow itself reached
        // our listener, and one doing it on a timer refilled the list for ever.
        // Early ones reported the page before it had loaded. A listener of the
        // page's own that stops the real one must not stop the harvest.
        m_site.route(QStringLiteral("/forge/page"),
                     "<a href=\"/forge/one\">1</a><script>"
                     "for (var i = 0; i < 50; ++i) dispatchEvent(new Event('pageshow'));"
                     "addEventListener('pageshow', function (e) { e.stopImmediatePropagation(); }, true);"
                     "addEventListener('load', function () {"
                     "  for (var i = 0; i < 50; ++i) dispatchEvent(new PageTransitionEvent('pageshow'));"
                     "  var n = 0;"
                     "  setInterval(function () {"
                     "    dispatchEvent(new Event('pageshow'));"
                     "    if (++n == 2) fetch('/forge/ticked');"
                     "  }, 5);"
                     "});"
                     "</script><a href=\"/forge/two\">2</a>");
        m_browser->navigate(site(QStringLiteral("/forge/page")));
        QTRY_VERIFY_WITH_TIMEOUT(m_site.requests().contains(QStringLiteral("/forge/ticked")), loadTimeout);
        QCOMPARE(m_rec->topLevel().size(), 1);
        QCOMPARE(m_rec->topLevel().constFirst().anchors,
                 (QStringList{site(QStringLiteral("/forge/one")), site(QStringLiteral("/forge/two"))}));
        CHECKED(
            recover(QStringLiteral("pageshow dispatched by the page, early, on load and on a timer | harvested once")));
        QCOMPARE(m_rec->topLevel().size(), 2);
    }

    void popupsLeaveNoTabBehind()
    {
        const QByteArray open =
            "function tryOpen(url, mark) {"
            "  if (!window.open(url)) {"
            "    var a = document.createElement('a'); a.href = mark; document.body.appendChild(a); } }";
        m_other.route(QStringLiteral("/popup/frame"),
                      "<body><script>" + open + "tryOpen('/popup/from-frame', '#');</script>");
        m_site.route(
            QStringLiteral("/popups.html"),
            "<body><a href=\"/popup/link\">p</a><script>" + open
                + "tryOpen('/popup/during', '/popup/blocked-during');"
                  "addEventListener('load', function () { tryOpen('/popup/on-load', '/popup/blocked-on-load'); });"
                  "</script><iframe src=\""
                + other(QStringLiteral("/popup/frame")).toUtf8() + "\"></iframe>");
        m_browser->navigate(site(QStringLiteral("/popups.html")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_rec->topLevel().isEmpty(), loadTimeout);
        QVERIFY(m_rec->topLevel().constFirst().anchors.startsWith(site(QStringLiteral("/popup/link"))));
        CHECKED(expectOnlyOurTabs(QStringLiteral("/popup/")));

        // Headless Chromium blocks popups nobody clicked for; a page the user
        // had clicked would get them. The engine closes every one.
        QString session;
        CHECKED(attachTo(site(QStringLiteral("/popups.html")), session));
        CHECKED(runWithGesture(session, QStringLiteral("window.open('/popup/gesture'); 1")));
        CHECKED(runWithGesture(session, QStringLiteral("window.open('/popup/no-opener', '_blank', 'noopener'); 1")));
        CHECKED(runWithGesture(session,
                               QStringLiteral("var a = document.createElement('a');"
                                              "a.href = '/popup/target-blank'; a.target = '_blank';"
                                              "a.rel = 'noopener noreferrer'; document.body.appendChild(a);"
                                              "a.click(); 1")));
        DevToolsReply detached;
        CHECKED(ask(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), session}}, {}, detached));
        QTRY_VERIFY_WITH_TIMEOUT(
            std::count_if(m_createdPages.cbegin(), m_createdPages.cend(),
                          [](const QJsonObject &info) { return info.contains(QLatin1String("openerId")); })
                >= 3,
            loadTimeout);
        CHECKED(expectOnlyOurTabs(QStringLiteral("/popup/")));
        QCOMPARE(m_rec->topLevel().size(), 1); // popups are never harvested
        CHECKED(recover(QStringLiteral("window.open during load, on load, from a frame, and clicked | no tab left")));
    }

    void pagesThatReloadForeverAreHarvestedEachTimeAndLetGo_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("meta refresh 0 to itself") << QString::fromLatin1(PageServer::reloadMetaPath);
        QTest::newRow("location.reload() on load") << QString::fromLatin1(PageServer::reloadScriptPath);
    }

    void pagesThatReloadForeverAreHarvestedEachTimeAndLetGo()
    {
        QFETCH(QString, path);
        const QString url = site(path);
        m_browser->navigate(url);
        QTRY_VERIFY_WITH_TIMEOUT(m_rec->topLevel().size() >= 3, loadTimeout);
        for (const auto &load : m_rec->topLevel()) {
            QCOMPARE(load.url, url);
            QCOMPARE(load.anchors, QStringList{site(QStringLiteral("/reload/link"))});
        }

        CHECKED(
            recover(QStringLiteral("%1 | harvested at every load").arg(QString::fromLatin1(QTest::currentDataTag()))));
        auto loadsOfPage = [this, &url] {
            const auto loads = m_rec->topLevel();
            return std::count_if(loads.cbegin(), loads.cend(), [&url](const auto &load) { return load.url == url; });
        };
        const auto loads = loadsOfPage();
        CHECKED(expectOnlyOurTabs(path));
        // Let go for good: the page reloaded every few milliseconds, now its
        // tab is gone, and Chromium answers in order, so all it sent of the page
        // has been handled.
        QCOMPARE(loadsOfPage(), loads);
    }

    void oddTargetsEndInAHarvestOrAReport_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("harvested");
        QTest::addColumn<QStringList>("anchors"); // when harvested; paths on the site, or absolute
        QTest::addColumn<QString>("mustMention"); // when reported; when harvested, the LinksCut notice's

        PageServer::Response noContent;
        noContent.status = 204;
        noContent.contentType.clear();
        m_site.route(QStringLiteral("/odd/204"), noContent);
        PageServer::Response serverError;
        serverError.status = 500;
        serverError.body = "<h1>broken</h1><a href=\"/odd/after-500\">home</a>";
        m_site.route(QStringLiteral("/odd/500"), serverError);
        PageServer::Response pdf;
        pdf.contentType = "application/pdf";
        pdf.body = "%PDF-1.1\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                   "2 0 obj<</Type/Pages/Kids[]/Count 0>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";
        m_site.route(QStringLiteral("/odd/doc.pdf"), pdf);
        for (const auto &[path, target] : {std::pair{"/odd/to-file", "file:///etc/passwd"},
                                           std::pair{"/odd/to-data", "data:text/html,<a href=/x>x</a>"}}) {
            PageServer::Response redirect;
            redirect.status = 302;
            redirect.headers = {{"Location", target}};
            m_site.route(QString::fromLatin1(path), redirect);
        }
        m_site.route(QStringLiteral("/odd/script-to-file"),
                     "<a href=\"/odd/stayed\">s</a><script>location.href = 'file:///etc/passwd';</script>");
        m_site.route(
            QStringLiteral("/odd/script-to-data"),
            "<a href=\"/odd/stayed\">s</a><script>location.href = 'data:text/html,<a href=/x>x</a>';</script>");
        // Grows by 64 MB buffers while its load never ends.
        PageServer::Response hog;
        hog.body = "<a href=\"/odd/lost\">l</a><script>var hog = []; setInterval(function () {"
                   " if (hog.length < 64) hog.push(new Uint8Array(64 << 20).fill(1)); }, 20);</script>";
        hog.neverEnds = true;
        m_site.route(QStringLiteral("/odd/hog"), hog);
        m_site.route(QStringLiteral("/odd/links"),
                     "<a href=\"data:text/html,<b>x</b>\">d</a><a href=\"file:///etc/passwd\">f</a>"
                     "<a href=\"/odd/doc.pdf\">p</a>");

        QTest::newRow("204 No Content") << "/odd/204" << false << QStringList() << "net::ERR_ABORTED";
        QTest::newRow("500 with anchors") << "/odd/500" << true << QStringList{"/odd/after-500"} << QString();
        // The full browser shows a PDF in its viewer and puts its own error
        // page over an empty error response; the headless shell has no viewer
        // and shows the empty page as it is.
        PageServer::Response emptyError;
        emptyError.status = 500;
        m_site.route(QStringLiteral("/odd/empty-500"), emptyError);
        const bool shell = engineIsHeadlessShell();
        QTest::newRow("PDF") << "/odd/doc.pdf" << !shell << QStringList() << QStringLiteral("下载文件");
        QTest::newRow("500, empty") << "/odd/empty-500" << shell << QStringList()
                                    << (shell ? QString() : QStringLiteral("net::ERR_HTTP_RESPONSE_CODE_FAILURE"));
        const QString unsafeRedirect =
            QStringLiteral("不允许打开的地址（如本机文件）（Chromium 错误代码 net::ERR_UNSAFE_REDIRECT）");
        QTest::newRow("redirect to file:") << "/odd/to-file" << false << QStringList() << unsafeRedirect;
        QTest::newRow("redirect to data:") << "/odd/to-data" << false << QStringList() << unsafeRedirect;
        QTest::newRow("script sends the page to file:")
            << "/odd/script-to-file" << true << QStringList{"/odd/stayed"} << QString();
        QTest::newRow("script sends the page to data:")
            << "/odd/script-to-data" << true << QStringList{"/odd/stayed"} << QString();
        QTest::newRow("memory past the bound")
            << "/odd/hog" << false << QStringList() << "占用的内存超过了上限（1.0 GB）";
        // 1,200 empty links resolve to a 1 MB base each: a small page, a
        // huge harvest. The links before the bound come, in order, and a notice.
        const QString base = site(QStringLiteral("/odd/")) + QString(1 << 20, QLatin1Char('b'));
        m_site.route(QStringLiteral("/odd/amplified"),
                     "<script>var base = document.createElement('base'); base.href = '" + base.toUtf8()
                         + "'; document.head.appendChild(base);</script><body><script>"
                           "for (var i = 0; i < 1200; ++i) document.body.appendChild(document.createElement('a'))"
                           ".setAttribute('href', '');</script>");
        const qsizetype kept = harvestBound / (base.size() + 16);
        QTest::newRow("1,200 links of 1 MB past the harvest bound")
            << "/odd/amplified" << true << QStringList(kept, base)
            << QStringLiteral("只读取了前 %1 个链接，其余的已略去").arg(kept);
        QTest::newRow("links to data:, file: and a PDF")
            << "/odd/links" << true << QStringList{"data:text/html,<b>x</b>", "file:///etc/passwd", "/odd/doc.pdf"}
            << QString();
    }

    void oddTargetsEndInAHarvestOrAReport()
    {
        QFETCH(QString, path);
        QFETCH(bool, harvested);
        QFETCH(QStringList, anchors);
        QFETCH(QString, mustMention);

        m_browser->navigate(site(path));
        QTRY_VERIFY_WITH_TIMEOUT(m_rec->events.size() - m_rec->frames().size() >= 1, loadTimeout);
        CHECKED(recover(
            QStringLiteral("%1 | %2").arg(QString::fromLatin1(QTest::currentDataTag()),
                                          harvested ? QStringLiteral("harvested") : QStringLiteral("reported"))));
        // Exactly one report for the page, then the next page's harvest.
        QList<EngineRecorder::Event> reports;
        QList<EngineRecorder::Event> notices;
        for (const auto &event : std::as_const(m_rec->events)) {
            if (event.kind == EngineRecorder::Notice)
                notices.append(event);
            else if (event.kind != EngineRecorder::Complete || event.topLevel)
                reports.append(event);
        }
        QCOMPARE(reports.size(), 2);
        const auto &report = reports.constFirst();
        if (harvested) {
            QCOMPARE(report.kind, EngineRecorder::Complete);
            QCOMPARE(report.url, site(path)); // never a file: or data: document
            QStringList absolute;
            for (const QString &anchor : std::as_const(anchors))
                absolute.append(anchor.startsWith(QLatin1Char('/')) ? site(anchor) : anchor);
            // Not QCOMPARE, which would print megabytes.
            QVERIFY2(report.anchors == absolute,
                     qPrintable(QStringLiteral("%1 links: %2")
                                    .arg(report.anchors.size())
                                    .arg(report.anchors.join(u' ').left(300))));
            QCOMPARE(notices.size(), mustMention.isEmpty() ? 0 : 1);
            if (!mustMention.isEmpty()) {
                QCOMPARE(notices.constFirst().notice, PageNotice::LinksCut);
                QCOMPARE(notices.constFirst().url, site(path));
                QVERIFY2(notices.constFirst().reason.contains(mustMention),
                         qPrintable(notices.constFirst().reason.left(300)));
            }
        } else {
            QCOMPARE(report.kind, EngineRecorder::NavigateError);
            QCOMPARE(report.url, site(path));
            QVERIFY2(report.reason.contains(mustMention), qPrintable(report.reason));
        }
        // Whatever the page took is given back.
        QTRY_VERIFY_WITH_TIMEOUT(chromiumUse(m_pid).bytes < memoryBound, recoverTimeout);
    }

    void memoryIsBoundedForEachPageItsWholeLife_data()
    {
        QTest::addColumn<QString>("first"); // read just before; empty: none
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("read");           // its link comes
        QTest::addColumn<bool>("closed");         // after its read, closed with a notice
        QTest::addColumn<QString>("mustMention"); // when not read

        // 64 MB more every 100 ms once read, to 1 GB at most.
        m_site.route(QStringLiteral("/bound/after-read"),
                     "<a href=\"/bound/link\">l</a><script>var hog = []; addEventListener('load', function () {"
                     " setInterval(function () { if (hog.length < 16) hog.push(new Uint8Array(64 << 20).fill(1)); },"
                     " 100); });</script>");
        // 256 MB each; the second holds its load for a while, so the watch
        // sees both at once.
        const QByteArray holds = "<a href=\"/bound/link\">l</a><script>var held = new Uint8Array(256 << 20).fill(1);"
                                 "</script>";
        m_site.route(QStringLiteral("/bound/holds"), holds);
        m_site.route(QStringLiteral("/bound/holds-too"), holds + "<img src=\"/bound/late.png\">");
        PageServer::Response late;
        late.contentType = "image/png";
        late.delayMs = 1500;
        m_site.route(QStringLiteral("/bound/late.png"), late);
        // Blobs live in Chromium's browser process, not the page's renderer.
        PageServer::Response blobs;
        blobs.body = "<a href=\"/bound/link\">l</a><script>var blobs = []; setInterval(function () {"
                     " if (blobs.length < 16) blobs.push(new Blob([new Uint8Array(64 << 20)])); }, 50);"
                     "</script>";
        blobs.neverEnds = true;
        m_site.route(QStringLiteral("/bound/blobs"), blobs);

        const QString overrun = QStringLiteral("占用的内存超过了上限（0.4 GB）");
        QTest::newRow("a page that grows once read") << QString() << "/bound/after-read" << true << true << QString();
        QTest::newRow("its predecessor, parked, holds as much") << "/bound/holds"
                                                                << "/bound/holds-too" << true << false << QString();
        QTest::newRow("blobs while it loads") << QString() << "/bound/blobs" << false << false << overrun;
    }

    void memoryIsBoundedForEachPageItsWholeLife()
    {
        QFETCH(QString, first);
        QFETCH(QString, path);
        QFETCH(bool, read);
        QFETCH(bool, closed);
        QFETCH(QString, mustMention);

        ChromiumOptions options;
        options.memoryLimit = qint64(400) << 20;
        ChromiumBrowser browser(options);
        EngineRecorder rec(&browser);
        QSignalSpy notices(&browser, &Browser::pageNotice);
        QSignalSpy ready(&browser, &ChromiumBrowser::ready);
        browser.start();
        QVERIFY2(ready.wait(loadTimeout), qPrintable(rec.lastReason()));
        const qint64 idle = chromiumUse(browser.processId()).bytes;
        if (!first.isEmpty()) {
            browser.navigate(site(first));
            QTRY_VERIFY_WITH_TIMEOUT(!rec.events.isEmpty(), loadTimeout);
            QCOMPARE(rec.events.constFirst().kind, EngineRecorder::Complete);
            rec.clear();
        }
        browser.navigate(site(path));
        QTRY_VERIFY_WITH_TIMEOUT(!rec.events.isEmpty(), loadTimeout);
        QElapsedTimer sinceReport;
        sinceReport.start();
        const auto report = rec.events.constFirst();
        QCOMPARE(report.url, site(path));
        if (read) {
            QCOMPARE(report.kind, EngineRecorder::Complete);
            QCOMPARE(report.anchors, QStringList{site(QStringLiteral("/bound/link"))});
        } else {
            QCOMPARE(report.kind, EngineRecorder::NavigateError);
            QVERIFY2(report.reason.contains(mustMention), qPrintable(report.reason));
        }
        if (closed) {
            // It passes the bound some 600 ms after its read.
            QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), 3000);
            qInfo("closed %lld ms after its read", sinceReport.elapsed());
            QCOMPARE(notices.constFirst().at(0).toString(), site(path));
            QCOMPARE(notices.constFirst().at(1).value<PageNotice>(), PageNotice::ClosedForMemory);
            QVERIFY2(notices.constFirst().at(2).toString().contains(QStringLiteral("（0.4 GB）")),
                     qPrintable(notices.constFirst().at(2).toString()));
        }
        // Chromium gives a closed page's blobs back in its own time: 10 s
        // has been seen on a loaded machine.
        QTRY_VERIFY_WITH_TIMEOUT(chromiumUse(browser.processId()).bytes - idle < options.memoryLimit,
                                 3 * recoverTimeout);
        // Said once, and only what the row expects.
        QCOMPARE(rec.events.size() - rec.count(EngineRecorder::Notice), 1);
        QCOMPARE(notices.size(), closed ? 1 : 0);
    }

    void addressesOfAnyContentReachChromiumAsData_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("requested"); // what the server must see; empty: refused before any request

        const QString base = site(QStringLiteral("/any/"));
        const QString marker =
            QDir::temp().filePath(QStringLiteral("velmora-shell-%1").arg(QCoreApplication::applicationPid()));
        QTest::newRow("1 MB") << base + QString(qsizetype(1024) * 1024, QLatin1Char('m'))
                              << QStringLiteral("/any/") + QString(qsizetype(1024) * 1024, QLatin1Char('m'));
        QTest::newRow("NUL") << base + QStringLiteral("a") + QChar(0) + QStringLiteral("b") << "/any/a%00b";
        QTest::newRow("control characters") << base
                + QString::fromLatin1("a\x01"
                                      "b\x1f"
                                      "c\x7f"
                                      "d\te\nf\rg")
                                            << "/any/a%01b%1Fc%7Fdefg";
        QTest::newRow("right-to-left marks")
            << base + QString::fromUtf16(u"\u202Egpj.exe\u200F") << "/any/%E2%80%AEgpj.exe%E2%80%8F";
        QTest::newRow("right-to-left mark in the host")
            << QStringLiteral("http://127.0.0.1%1:%2/").arg(QChar(0x202E)).arg(m_site.port()) << QString();
        QTest::newRow("shell syntax") << base + QStringLiteral("$(touch%20") + marker + QStringLiteral(")`touch%20")
                + marker + QStringLiteral("`;touch%20") + marker + QStringLiteral("|x")
                                      << "/any/$(touch%20" + marker + ")%60touch%20" + marker + "%60;touch%20" + marker
                + "%7Cx";
    }

    void addressesOfAnyContentReachChromiumAsData()
    {
        QFETCH(QString, url);
        QFETCH(QString, requested);

        const qsizetype requestsBefore = m_site.requests().size();
        m_browser->navigate(url);
        QTRY_VERIFY_WITH_TIMEOUT(m_rec->events.size() - m_rec->frames().size() >= 1, loadTimeout);
        const auto report = m_rec->events.constFirst();
        if (requested.isEmpty()) {
            QCOMPARE(report.kind, EngineRecorder::NavigateError);
            QVERIFY2(report.reason.contains(QStringLiteral("不接受这个地址")), qPrintable(report.reason));
            QCOMPARE(m_site.requests().size(), requestsBefore);
        } else {
            // Loaded as any other address: the server's 404 page, harvested.
            QCOMPARE(report.kind, EngineRecorder::Complete);
            QVERIFY(m_site.requests().size() > requestsBefore);
            const QString seen = m_site.requests().at(requestsBefore);
            QVERIFY2(seen == requested, qPrintable(seen.left(200)));
        }
        // Nothing of it on any command line, and no shell among Chromium's processes.
        const QList<qint64> pids = procfs::groupAndDescendants(m_browser->processId());
        QVERIFY(!pids.isEmpty());
        for (qint64 pid : pids) {
            QVERIFY(!proc::commandLine(pid).contains("/any/")); // empty once gone
            const QString exe = procfs::executable(pid);
            QVERIFY2(!exe.endsWith(QLatin1String("sh")), qPrintable(exe));
        }
        QVERIFY(QDir::temp().entryList({QStringLiteral("velmora-shell-*")}).isEmpty());
        CHECKED(
            recover(QStringLiteral("address: %1 | %2")
                        .arg(QString::fromLatin1(QTest::currentDataTag()),
                             requested.isEmpty() ? QStringLiteral("refused, reported") : QStringLiteral("loaded"))));
    }

    void cleanupTestCase()
    {
        m_rec.reset();
        m_browser.reset();
    }
};

QTEST_GUILESS_MAIN(HostilePagesTest)
#include "tst_hostile_pages.moc"
