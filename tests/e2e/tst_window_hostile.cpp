// The real window on the real engine when things go wrong: Chromium killed in
// the middle of a load, a page that never finishes, pages that reload
// themselves for ever. Message boxes go to a recording platform.
#include "app/link_list.h"
#include "app/main_window.h"
#include "devtools_call.h"
#include "engine/chromium_browser.h"
#include "engine_window.h"
#include "fake_platform.h"
#include "page_server.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>

using namespace engine;

namespace {

constexpr int loadTimeout = 30000;
// Asking for the next page after a broken one, to its links in the list; a
// new Chromium may have to start first.
constexpr int recoverTimeout = 15000;
// Closing the window with a hostile page open, until Chromium is gone.
constexpr qint64 closeBoundMs = 5000;

const QString noticeTitle = QString::fromUtf16(u"提示 ");
constexpr int warningStyle = 48;

bool running(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
}

} // namespace

class WindowHostileTest final : public QObject
{
    Q_OBJECT

private:
    PageServer m_server;
    FakePlatform m_platform;
    std::unique_ptr<EngineWindow> m_window;

    QLineEdit *edit(const char *name) const { return m_window->edit(name); }
    LinkListModel *items() const { return m_window->list()->links(); }

    void extract(const QString &path)
    {
        m_window->enter(m_server.url(path));
        QVERIFY(edit("Text3")->isVisible());
    }

    // Whether a tab of the window's Chromium shows an address containing part.
    // Chromium answers in order, so every message it sent before has been handled.
    // The ids of the tabs whose address holds part; an unanswered call is
    // one unknown tab.
    QStringList tabsShowing(const QString &part = {}) const
    {
        const DevToolsReply reply =
            callAndWait(m_window->chromium()->connection(), QStringLiteral("Target.getTargets"));
        if (!reply.done || reply.error.isError())
            return {QStringLiteral("?")};
        QStringList ids;
        for (const QJsonValue &target : reply.result.value(QLatin1String("targetInfos")).toArray()) {
            if (target.toObject().value(QLatin1String("url")).toString().contains(part))
                ids.append(target.toObject().value(QLatin1String("targetId")).toString());
        }
        return ids;
    }

    // The next extraction after a broken page: its link reaches List1 and
    // the busy sign goes. Reports how long it took.
    void recover(const QString &what)
    {
        const qint64 ms = m_window->recover(m_server.url(QStringLiteral("/sentinel")),
                                            m_server.url(QStringLiteral("/s")), recoverTimeout);
        QVERIFY2(ms >= 0, qPrintable(what + QStringLiteral(" | the next extraction never arrived")));
        qInfo("%s | next extraction's link in List1 %lld ms after Enter", qPrintable(what), ms);
    }

    // Closes the window as the user would and reports how long until its
    // Chromium is gone.
    void closeWindow(const QString &what)
    {
        const qint64 chromium = m_window->chromiumPid();
        QVERIFY(running(chromium));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(m_window->form().close());
        m_window->destroy();
        QTRY_VERIFY_WITH_TIMEOUT(!running(chromium), closeBoundMs);
        qInfo("%s | window closed, Chromium gone in %lld ms", qPrintable(what), clock.elapsed());
        QVERIFY(clock.elapsed() < closeBoundMs);
        QCOMPARE(m_platform.openedUrls.size(), 1); // the vendor's page, as at every close
    }

private slots:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void init()
    {
        m_platform = FakePlatform();
        m_window = std::make_unique<EngineWindow>(new ChromiumBrowser, &m_platform);
        QString error;
        QVERIFY2(m_window->show(&error), qPrintable(error));
    }

    void cleanup()
    {
        m_window.reset(); // without a close, which would open the vendor's page again
    }

    void chromiumKilledDuringALoadIsOneMessageThenTheNextExtractionWorks()
    {
        PageServer::Response hanging;
        hanging.neverEnds = true;
        hanging.body = "<html><body><a href=\"/never\">n</a>";
        m_server.route(QStringLiteral("/killed/hanging"), hanging);
        extract(QStringLiteral("/killed/hanging"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().contains(QStringLiteral("/killed/hanging")), loadTimeout);

        // Chromium and every process it started: its process group.
        const qint64 chromium = m_window->chromiumPid();
        QCOMPARE(::kill(-pid_t(chromium), SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_platform.messages.size(), 1, loadTimeout);
        const FakePlatform::Message message = m_platform.messages.constFirst();
        QCOMPARE(message.style, warningStyle);
        QCOMPARE(message.title, noticeTitle);
        QVERIFY2(message.text.contains(QStringLiteral("Chromium")), qPrintable(message.text));
        QVERIFY(!edit("Text3")->isVisible());
        QVERIFY(items()->items().isEmpty());

        recover(QStringLiteral("Chromium killed during a load | one message, busy sign hidden"));
        QVERIFY(m_window->chromiumPid() != chromium);
        QCOMPARE(m_platform.messages.size(), 1); // and no second one, ever
        QCOMPARE(items()->items(), QStringList{m_server.url(QStringLiteral("/s"))});
    }

    void aPageThatNeverFinishesKeepsTheBusySignUntilTheNextExtraction()
    {
        PageServer::Response image;
        image.neverEnds = true;
        image.contentType = "image/png";
        image.body = QByteArray::fromBase64("iVBORw0KGgo=");
        m_server.route(QStringLiteral("/stuck/image.png"), image);
        m_server.route(QStringLiteral("/stuck/page"), "<a href=\"/stuck/link\">x</a><img src=\"/stuck/image.png\">");
        extract(QStringLiteral("/stuck/page"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().contains(QStringLiteral("/stuck/image.png")), loadTimeout);
        // Still loading: the sign stays, nothing is listed, nobody is told.
        QTest::qWait(500);
        QVERIFY(edit("Text3")->isVisible());
        QVERIFY(items()->items().isEmpty());
        QVERIFY(m_platform.messages.isEmpty());

        recover(QStringLiteral("hanging subresource | busy sign stayed until the next extraction"));
        QCOMPARE(items()->items(), QStringList{m_server.url(QStringLiteral("/s"))});
        QVERIFY(m_platform.messages.isEmpty());

        // Closing while a page hangs again.
        extract(QStringLiteral("/stuck/page"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().count(QStringLiteral("/stuck/image.png")) == 2, loadTimeout);
        closeWindow(QStringLiteral("hanging subresource"));
    }

    void pagesThatReloadForeverLeaveTheWindowFree_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("meta refresh 0 to itself") << QString::fromLatin1(PageServer::reloadMetaPath);
        QTest::newRow("location.reload() on load") << QString::fromLatin1(PageServer::reloadScriptPath);
    }

    void pagesThatReloadForeverLeaveTheWindowFree()
    {
        QFETCH(QString, path);
        const QString link = m_server.url(QStringLiteral("/reload/link"));
        // Each load adds its link again.
        extract(path);
        QTRY_VERIFY_WITH_TIMEOUT(items()->count() >= 3, loadTimeout);
        // Its tab: its address flickers while it reloads.
        QString reloading;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QStringList ids = tabsShowing(path);
                if (ids.size() == 1 && ids.constFirst() != QLatin1String("?"))
                    reloading = ids.constFirst();
                return !reloading.isEmpty();
            },
            loadTimeout));
        QVERIFY(std::all_of(items()->items().cbegin(), items()->items().cend(),
                            [&link](const QString &item) { return item == link; }));
        QVERIFY(m_platform.messages.isEmpty());

        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        recover(tag + QStringLiteral(" | its link listed at every load"));
        // The reloading page was let go: once its tab is gone, whatever it sent
        // has been handled, and nothing of it came after the next page's link.
        // Gone, not just showing another address: leaving for about:blank
        // races the page's own next reload.
        const auto gone = [this, &reloading] {
            const QStringList ids = tabsShowing();
            return !ids.contains(QStringLiteral("?")) && !ids.contains(reloading);
        };
        QTRY_VERIFY_WITH_TIMEOUT(gone(), loadTimeout);
        QCOMPARE(items()->items().constLast(), m_server.url(QStringLiteral("/s")));

        extract(path);
        const qsizetype before = items()->count();
        QTRY_VERIFY_WITH_TIMEOUT(items()->count() >= before + 2, loadTimeout);
        closeWindow(tag);
    }
};

QTEST_MAIN(WindowHostileTest)
#include "tst_window_hostile.moc"
