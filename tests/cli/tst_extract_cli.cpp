// velmora-extract from the build tree, where a pipeline or a signal meets it:
// arguments, a reader that leaves, interrupts, a page that never finishes.
// What it extracts is tested on the installed package (cli_package).
#include "page_server.h"
#include "procfs.h"
#include "program_run.h"
#include "velmora_config.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {
constexpr int runWaitMs = 120000;
const QString extractor = QStringLiteral(VELMORA_TEST_EXTRACT);
} // namespace

class ExtractCliTest final : public QObject
{
    Q_OBJECT

private:
    PageServer m_site;
    QTemporaryDir m_tmp;

    QString site(const QString &path) const { return m_site.url(path); }

    ProgramRun extract(const QStringList &arguments, const std::function<void(qint64)> &started = {},
                       const QProcessEnvironment &environment = {})
    {
        return runProgram(extractor, arguments, environment.isEmpty() ? plainEnvironment(m_tmp.path()) : environment,
                          runWaitMs, started);
    }

    // Nothing of Chromium outlives the program: no process, no profile
    // folder. (A Chromium killed after its grace period may leave temporary
    // files of its own, org.chromium.Chromium.*, in TMPDIR.)
    void verifyNothingLeft()
    {
        QTRY_VERIFY_WITH_TIMEOUT(procfs::processesMentioning(QFile::encodeName(m_tmp.path())).isEmpty(), 10000);
        QCOMPARE(QDir(m_tmp.path()).entryList({QStringLiteral("velmora-chromium-*")}, QDir::AllEntries | QDir::Hidden),
                 QStringList{});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(m_site.listen());
        m_site.route(QStringLiteral("/small"), "<a href=\"/one\">1</a><a href=\"/two\">2</a>");
        // Well past a pipe's buffer, so writing it meets the closed pipe.
        m_site.route(QStringLiteral("/big"), PageServer::anchorsPage(10000));
        PageServer::Response never;
        never.body = "<html><body><a href=\"/partial\">p</a>";
        never.neverEnds = true;
        m_site.route(QStringLiteral("/never"), never);
    }

    // No Chromium is needed to get these right.
    void arguments_data()
    {
        // Leading NAME=value entries set the environment, as env(1) takes them;
        // the locale is C.UTF-8 unless they say otherwise.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("chromium"); // VELMORA_CHROMIUM, if set
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");     // standard output begins so; empty: is empty
        QTest::addColumn<QStringList>("err"); // each line of standard error begins so

        const QString prefix = QStringLiteral("velmora-extract: ");
        QTest::newRow("help") << QStringList{"--help"} << "" << 0 << "Usage: " << QStringList{};
        QTest::newRow("version") << QStringList{"-V"} << "" << 0 << "velmora-extract " VELMORA_VERSION "\n"
                                 << QStringList{};
        const QStringList tryHelp{prefix, "Try 'velmora-extract --help'"};
        // Standard input is a pipe here: with no address it is the list.
        QTest::newRow("no address, nothing on standard input") << QStringList{} << "" << 0 << "" << QStringList{};
        QTest::newRow("unknown option") << QStringList{"--frobnicate", "http://example.com/"} << "" << 2 << ""
                                        << tryHelp;
        QTest::newRow("empty output name") << QStringList{"-o", "", "http://example.com/"} << "" << 2 << "" << tryHelp;
        QTest::newRow("negative timeout") << QStringList{"-t", "-1", "http://example.com/"} << "" << 2 << "" << tryHelp;
        QTest::newRow("timeout beyond a timer")
            << QStringList{"-t", "2147484", "http://example.com/"} << "" << 2 << "" << tryHelp;
        QTest::newRow("settle not a number")
            << QStringList{"--settle", "2s", "http://example.com/"} << "" << 2 << "" << tryHelp;
        QTest::newRow("no jobs") << QStringList{"-j0", "http://example.com/"} << "" << 2 << "" << tryHelp;
        QTest::newRow("two formats") << QStringList{"--json", "-0", "http://example.com/"} << "" << 2 << "" << tryHelp;
        QTest::newRow("unknown dedupe mode")
            << QStringList{"--dedupe=fold", "http://example.com/"} << "" << 2 << "" << tryHelp;
        // An option's value that looks like the mode is still the value.
        QTest::newRow("--dedupe=nocase as a filter text")
            << QStringList{"-f", "--dedupe=nocase", "ftp://x/"} << "" << 1 << ""
            << QStringList{prefix + "ftp://x/: only http:// and https:// addresses are read"};
        QTest::newRow("input file missing") << QStringList{"-i", "/nonexistent/list", "http://example.com/"} << "" << 2
                                            << "" << QStringList{prefix + "/nonexistent/list: "};
        QTest::newRow("refused addresses alone")
            << QStringList{"ftp://example.com/", "http:/a.test/", "http://a/\n2", "-q", "mailto:a@b.test"} << "" << 1
            << "" << QStringList{};
        QTest::newRow("refused addresses, said")
            << QStringList{"ftp://example.com/", "http://a/\n2"} << "" << 1 << ""
            << QStringList{prefix + "ftp://example.com/: only http:// and https:// addresses are read",
                           // A line break in an address does not break the line.
                           prefix + "http://a/%0A2: not a valid address"};
        // A file that cannot be written is no success, whatever was read.
        QTest::newRow("output cannot be written")
            << QStringList{"-o", "/nonexistent/folder/links", "ftp://x/"} << "" << 2 << ""
            << QStringList{prefix + "ftp://x/: ", prefix + "/nonexistent/folder/links: "};
        // Nor a folder (once DIR/.txt) or a device (once /dev/full.txt).
        QTest::newRow("output onto a folder") << QStringList{"-o", "/tmp/", "ftp://x/"} << "" << 2 << ""
                                              << QStringList{prefix + "ftp://x/: ", prefix + "/tmp/: "};
        QTest::newRow("output onto a device") << QStringList{"-o", "/dev/full", "ftp://x/"} << "" << 2 << ""
                                              << QStringList{prefix + "ftp://x/: ", prefix + "/dev/full: "};
        // Unusable, not a page's failure, with one address as with more.
        QTest::newRow("engine missing") << QStringList{"http://example.com/a"} << "/nonexistent/chromium" << 2 << ""
                                        << QStringList{prefix + "http://example.com/a: Chromium not found"};
        // Messages follow the first of LC_ALL, LC_MESSAGES and LANG set and not empty.
        QTest::newRow("refused address, Chinese")
            << QStringList{"LANG=zh_CN.UTF-8", "ftp://x/"} << "" << 1 << "" << QStringList{prefix + "ftp://x/: 只读取"};
        QTest::newRow("usage error, Chinese")
            << QStringList{"LC_ALL=", "LC_MESSAGES=zh_CN.UTF-8", "--frobnicate", "http://example.com/"} << "" << 2 << ""
            << QStringList{prefix + "未知选项", "运行“velmora-extract --help”"};
        QTest::newRow("LC_ALL before LANG") << QStringList{"LC_ALL=C", "LANG=zh_CN.UTF-8", "ftp://x/"} << "" << 1 << ""
                                            << QStringList{prefix + "ftp://x/: only http://"};
        QTest::newRow("engine missing, Chinese")
            << QStringList{"LANG=zh_CN.UTF-8", "http://example.com/a", "http://example.com/b"}
            << "/nonexistent/chromium" << 2 << "" << QStringList{prefix + "http://example.com/a: 找不到 Chromium"};
    }

    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, chromium);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QStringList, err);

        QProcessEnvironment environment = plainEnvironment(m_tmp.path());
        environment.remove(QStringLiteral("LC_ALL"));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        static const QRegularExpression setting(QStringLiteral("^([A-Z_]+)=(.*)$"));
        while (!arguments.isEmpty()) {
            const QRegularExpressionMatch match = setting.match(arguments.constFirst());
            if (!match.hasMatch())
                break;
            environment.insert(match.captured(1), match.captured(2));
            arguments.removeFirst();
        }
        if (!chromium.isEmpty())
            environment.insert(QStringLiteral("VELMORA_CHROMIUM"), chromium);
        const ProgramRun run = extract(arguments, {}, environment);
        QVERIFY(run.finished);
        QCOMPARE(run.status, QProcess::NormalExit);
        if (out.isEmpty())
            QVERIFY2(run.out.isEmpty(), run.out.constData());
        else
            QVERIFY2(QString::fromUtf8(run.out).startsWith(out), run.out.constData());
        const QStringList lines = run.errLines();
        QCOMPARE(lines.size(), err.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(lines.at(i).startsWith(err.at(i)), qPrintable(lines.at(i)));
        QCOMPARE(run.code, exitCode);
    }

    // `velmora-extract URL... | head -n 1`: once head has its line the program
    // ends as a filter does, by SIGPIPE, soon, and takes Chromium with it,
    // though the next page would never finish loading.
    void readerLeaves_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("while its links are written") << "/big"
                                                     << "/item/0";
        QTest::newRow("while the next page loads") << "/small"
                                                   << "/one";
    }

    void readerLeaves()
    {
        QFETCH(QString, first);
        QFETCH(QString, firstLine);
        const QString script = QStringLiteral("\"$0\" \"$@\" | head -n 1; echo \"status ${PIPESTATUS[0]}\" >&2");
        const ProgramRun run =
            runProgram(QStringLiteral("bash"), {QStringLiteral("-c"), script, extractor, site(first), site("/never")},
                       plainEnvironment(m_tmp.path()), runWaitMs);
        QVERIFY2(run.finished, run.err.constData());
        QCOMPARE(QString::fromUtf8(run.out), site(firstLine) + QLatin1Char('\n'));
        // 128 + SIGPIPE, and nothing said about it.
        QCOMPARE(run.errLines(), QStringList{QStringLiteral("status 141")});
        verifyNothingLeft();
    }

    void signalEndsIt_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGUSR1") << SIGUSR1;
        QTest::newRow("a real-time signal") << SIGRTMIN + 1;
    }

    // Interrupted mid-page, it shuts Chromium down and then ends by the
    // signal itself, so a shell sees what happened.
    void signalEndsIt()
    {
        QFETCH(int, sig);
        qint64 pid = 0;
        connect(&m_site, &PageServer::requested, this, [&pid, sig](const QString &path) {
            if (path == QLatin1String("/never") && pid > 0)
                ::kill(pid_t(pid), sig);
        });
        const ProgramRun run = extract({site("/never")}, [&pid](qint64 started) { pid = started; });
        m_site.disconnect(this);
        QVERIFY2(run.finished, run.err.constData());
        QCOMPARE(run.status, QProcess::CrashExit);
        QCOMPARE(run.code, sig);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.isEmpty(), run.err.constData()); // an interrupt is no page's failure
        verifyNothingLeft();
    }

    // A page that never finishes loading is read as it stands at the
    // timeout, reported, and the next is read.
    void timeout_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("out"); // %1: the site
        QTest::newRow("lines") << QStringList{} << "%1/partial\n%1/one\n%1/two\n";
        const QString never = QStringLiteral("{\"page\":\"%1/never\"");
        QTest::newRow("--json: its links, then the error")
            << QStringList{"--json"}
            << never + ",\"url\":\"%1/never\",\"href\":\"%1/partial\",\"index\":0,\"text\":\"p\",\"element\":\"a\"}\n"
                + never
                + ",\"error\":\"gave up: the page had not loaded after 2 s\"}\n"
                  "{\"page\":\"%1/small\",\"url\":\"%1/small\",\"href\":\"%1/one\",\"index\":0,"
                  "\"text\":\"1\",\"element\":\"a\"}\n"
                  "{\"page\":\"%1/small\",\"url\":\"%1/small\",\"href\":\"%1/two\",\"index\":1,"
                  "\"text\":\"2\",\"element\":\"a\"}\n";
    }

    void timeout()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, out);
        const ProgramRun run =
            extract(options + QStringList{QStringLiteral("-t"), QStringLiteral("2"), site("/never"), site("/small")});
        QVERIFY2(run.finished, run.err.constData());
        QCOMPARE(QString::fromUtf8(run.out), out.arg(site(QString())));
        QCOMPARE(run.errLines(),
                 QStringList{QStringLiteral("velmora-extract: ") + site("/never")
                             + QStringLiteral(": gave up: the page had not loaded after 2 s")});
        QCOMPARE(run.code, 1);
        verifyNothingLeft();
    }
};

QTEST_GUILESS_MAIN(ExtractCliTest)
#include "tst_extract_cli.moc"
