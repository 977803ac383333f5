// The engine's faults: Chromium missing, unusable, dying, hanging, and the app
// itself killed. Slow, so kept apart from the harvest tests.
#include "engine/chromium_browser.h"
#include "engine/proc_reader.h"
#include "engine_recorder.h"
#include "page_server.h"
#include "procfs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include <unistd.h>

using namespace engine;

namespace {
constexpr int loadTimeout = 20000;
} // namespace

class ChromiumFaultTest final : public QObject
{
    Q_OBJECT

private:
    PageServer m_site;

    static QString writeScript(const QTemporaryDir &dir, const QByteArray &body, bool executable)
    {
        QString path = dir.filePath(QStringLiteral("fake-chromium"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(body);
        file.close();
        file.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       : QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    // The engine works again: a page loads and is harvested.
    void expectWorkingExtraction(Browser &browser, EngineRecorder &rec)
    {
        rec.clear();
        browser.navigate(m_site.url(QStringLiteral("/page")));
        QTRY_VERIFY_WITH_TIMEOUT(!rec.topLevel().isEmpty(), loadTimeout);
        QCOMPARE(rec.topLevel().constFirst().anchors, QStringList{m_site.url(QStringLiteral("/link"))});
        QCOMPARE(rec.count(EngineRecorder::EngineError), 0);
    }

    static void startAndWait(ChromiumBrowser &browser)
    {
        QSignalSpy ready(&browser, &ChromiumBrowser::ready);
        browser.start();
        QVERIFY(ready.wait(loadTimeout));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_site.listen());
        m_site.route(QStringLiteral("/page"), "<a href=\"/link\">link</a>");
        PageServer::Response hanging;
        hanging.neverEnds = true;
        hanging.body = "<html><body>";
        m_site.route(QStringLiteral("/hanging"), hanging);
    }

    void killedWhileIdle()
    {
        ChromiumBrowser browser;
        EngineRecorder rec(&browser);
        startAndWait(browser);
        const qint64 first = browser.processId();
        ::kill(pid_t(first), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(EngineRecorder::EngineError), 1, loadTimeout);
        QVERIFY2(rec.lastReason().contains(QStringLiteral("下次提取时会自动重新启动")), qPrintable(rec.lastReason()));
        expectWorkingExtraction(browser, rec);
        QVERIFY(browser.processId() != first);
    }

    void killedDuringLoad_data()
    {
        QTest::addColumn<int>("lanes");
        QTest::newRow("the browser alone") << 1;
        // Added once Chromium runs: each opens its own tab on it.
        QTest::newRow("three lanes") << 3;
    }

    void killedDuringLoad()
    {
        QFETCH(int, lanes);
        ChromiumBrowser browser;
        startAndWait(browser);
        QList<Browser *> all{&browser};
        while (all.size() < lanes)
            all.append(browser.addLane());
        std::vector<std::unique_ptr<EngineRecorder>> recs;
        for (Browser *lane : std::as_const(all))
            recs.push_back(std::make_unique<EngineRecorder>(lane));
        const qsizetype asked = m_site.requests().count(QStringLiteral("/hanging"));
        for (Browser *lane : std::as_const(all))
            lane->navigate(m_site.url(QStringLiteral("/hanging")));
        QTRY_COMPARE_WITH_TIMEOUT(m_site.requests().count(QStringLiteral("/hanging")) - asked, lanes, loadTimeout);
        const QString profile = browser.profilePath();
        const qint64 chromium = browser.processId();
        QVERIFY(procfs::groupAndDescendants(chromium).size() > 1);
        ::kill(pid_t(chromium), SIGKILL);
        for (const auto &rec : recs) {
            QTRY_COMPARE_WITH_TIMEOUT(rec->count(EngineRecorder::EngineError), 1, loadTimeout);
            QVERIFY(rec->lastReason().contains(QStringLiteral("Chromium")));
        }
        // The dead run's folder is gone and its helpers with it (once the
        // process has been reaped, which the window's thread does not wait for).
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(profile), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(procfs::groupAndDescendants(chromium).isEmpty(), loadTimeout);
        for (qsizetype lane = 0; lane < all.size(); ++lane)
            expectWorkingExtraction(*all[lane], *recs[lane]);
    }

    void hangingChromiumIsRestarted()
    {
        ChromiumOptions options;
        options.callTimeoutMs = 1500;
        ChromiumBrowser browser(options);
        EngineRecorder rec(&browser);
        startAndWait(browser);
        const qint64 frozen = browser.processId();
        ::kill(pid_t(frozen), SIGSTOP);
        QSignalSpy ready(&browser, &ChromiumBrowser::ready);
        browser.navigate(m_site.url(QStringLiteral("/page")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(EngineRecorder::EngineError), 1, loadTimeout);
        QVERIFY2(rec.lastReason().contains(QStringLiteral("没有响应")), qPrintable(rec.lastReason()));
        // Killed when the hang was found; the window's thread does not wait
        // for it to go.
        QTRY_VERIFY_WITH_TIMEOUT(!procfs::isAlive(frozen), 3000);
        // Restarted at once, without waiting for the next extraction.
        QVERIFY(ready.wait(loadTimeout));
        expectWorkingExtraction(browser, rec);
    }

    void crashReportersDieWithTheirChromium_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("engine destroyed") << "destroyed";
        QTest::newRow("Chromium killed") << "killed";
        QTest::newRow("Chromium hung and restarted") << "hung";
    }

    void crashReportersDieWithTheirChromium()
    {
        QFETCH(QString, how);
        ChromiumOptions options;
        options.callTimeoutMs = 1500;
        auto browser = std::make_unique<ChromiumBrowser>(options);
        EngineRecorder rec(browser.get());
        startAndWait(*browser);
        expectWorkingExtraction(*browser, rec);
        const QString profile = browser->profilePath();
        const qint64 chromium = browser->processId();
        // chrome_crashpad_handler runs in a session of its own, outside
        // Chromium's process group, and is adopted by init: nothing that
        // ends the group reaches it. The headless shell starts none.
        QList<qint64> reporters;
        const QList<qint64> mentioning = procfs::processesMentioning(QFile::encodeName(profile));
        for (qint64 pid : mentioning) {
            if (proc::commandLine(pid).split('\0').constFirst().endsWith("crashpad_handler"))
                reporters.append(pid);
        }
        QVERIFY(!mentioning.isEmpty());
        QCOMPARE(reporters.isEmpty(), engineIsHeadlessShell());
        for (qint64 pid : std::as_const(reporters))
            QVERIFY(::getpgid(pid) != pid_t(chromium));

        QElapsedTimer clock;
        clock.start();
        if (how == QLatin1String("destroyed")) {
            browser.reset();
        } else {
            ::kill(pid_t(chromium), how == QLatin1String("killed") ? SIGKILL : SIGSTOP);
            if (how == QLatin1String("hung"))
                browser->navigate(m_site.url(QStringLiteral("/page")));
            QTRY_COMPARE_WITH_TIMEOUT(rec.count(EngineRecorder::EngineError), 1, loadTimeout);
        }
        QTRY_VERIFY_WITH_TIMEOUT(procfs::processesMentioning(QFile::encodeName(profile)).isEmpty(), 10000);
        qInfo("%s: %lld processes naming the profile, %lld of them crash reporters; all gone %lld ms later",
              qPrintable(how), qint64(mentioning.size()), qint64(reporters.size()), clock.elapsed());
        // Removed once the browser process is reaped, without blocking.
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(profile), 3000);
    }

    void unusableExecutables_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("mustMention");
        QTest::newRow("not executable") << QByteArray("#!/bin/sh\n") << false << QStringLiteral("不是可执行文件");
        QTest::newRow("exits at start") << QByteArray("#!/bin/sh\necho 'fatal: no display for you' >&2\nexit 3\n")
                                        << true << QStringLiteral("fatal: no display for you");
        QTest::newRow("cannot be executed") << QByteArray("\x7f"
                                                          "ELF garbage")
                                            << true << QStringLiteral("无法运行");
    }

    void unusableExecutables()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, executable);
        QFETCH(QString, mustMention);
        QTemporaryDir dir;
        ChromiumOptions options;
        options.executable = writeScript(dir, script, executable);
        ChromiumBrowser browser(options);
        EngineRecorder rec(&browser);
        browser.navigate(m_site.url(QStringLiteral("/page")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(EngineRecorder::EngineError), 1, loadTimeout);
        QVERIFY2(rec.lastReason().contains(mustMention), qPrintable(rec.lastReason()));
        QCOMPARE(rec.topLevel().size(), 0);
        // Each extraction tries again and says so again.
        browser.navigate(m_site.url(QStringLiteral("/page")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(EngineRecorder::EngineError), 2, loadTimeout);
        QCOMPARE(browser.processId(), 0);
    }

    void killedAppLeavesNoChromiumAndNextStartSweeps()
    {
        // A temporary folder of our own: an engine test running beside this
        // one would sweep the dead app's profile before we could look.
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const auto restore = qScopeGuard([&] {
            if (oldTmp.isEmpty())
                qunsetenv("TMPDIR");
            else
                qputenv("TMPDIR", oldTmp);
        });

        QProcess app;
        app.setProgram(QCoreApplication::applicationFilePath());
        app.setArguments({QStringLiteral("--run-engine")});
        app.start();
        QVERIFY(app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(app.canReadLine(), loadTimeout);
        const QList<QByteArray> line = app.readLine().trimmed().split(' ');
        QCOMPARE(line.size(), 2);
        const qint64 chromium = line.at(0).toLongLong();
        const QString profile = QString::fromLocal8Bit(line.at(1));
        QVERIFY(procfs::isAlive(chromium));

        app.kill(); // SIGKILL: no destructor runs
        QVERIFY(app.waitForFinished());
        QTRY_VERIFY_WITH_TIMEOUT(!procfs::isAlive(chromium), loadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(procfs::processesMentioning(QFile::encodeName(profile)).isEmpty(), loadTimeout);
        QVERIFY(QFileInfo::exists(profile)); // nobody could remove it

        ChromiumBrowser next;
        startAndWait(next);
        QVERIFY(!QFileInfo::exists(profile));
        QVERIFY(QFileInfo::exists(next.profilePath()));
        QVERIFY(next.profilePath().startsWith(tmp.path()));
        // Nothing of the dead Chromium is left either (the full browser kept
        // its single-instance socket in a folder of TMPDIR).
        QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 QStringList{QFileInfo(next.profilePath()).fileName()});
    }
};

int main(int argc, char **argv)
{
    // Stands in for the app in killedAppLeavesNoChromiumAndNextStartSweeps.
    if (argc > 1 && std::strcmp(argv[1], "--run-engine") == 0) {
        QCoreApplication app(argc, argv);
        ChromiumBrowser browser;
        QObject::connect(&browser, &ChromiumBrowser::ready, [&browser] {
            std::cout << browser.processId() << ' ' << browser.profilePath().toStdString() << std::endl;
        });
        browser.start();
        return app.exec();
    }
    QCoreApplication app(argc, argv);
    ChromiumFaultTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_chromium_faults.moc"
