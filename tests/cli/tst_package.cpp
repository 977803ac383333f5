// The Debian package as built by CPack: its contents, its control fields, the
// checkers Debian users run, and its velmora-extract unpacked and run against
// the local page server.
#include "engine/chromium_locator.h"
#include "forward_proxy.h"
#include "page_server.h"
#include "program_run.h"
#include "velmora_config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr int toolWaitMs = 120000;
constexpr int extractWaitMs = 120000;

// The page every run reads: a dialog its script must get past, a link that
// script writes, an address Chromium cannot parse (given back verbatim, so
// non-ASCII reaches the file), and two links equal but for letter case.
const QByteArray linksPage = "<!DOCTYPE html><html><body>\n"
                             "<a href=\"/a\">a</a><a href=\"/B\">B</a>\n"
                             "<script>alert('x'); document.write('<a href=\"/written\">w</a>');</script>\n"
                             "<a href=\"http://[链接]/\">bad</a><a href=\"/b\">b</a>\n"
                             "</body></html>\n";
// Repeats of the first page's links in other letter case, one new link, and
// a repeat within itself.
const QByteArray morePage = "<!DOCTYPE html><html><body>\n"
                            "<a href=\"/A\">A</a><a href=\"/c\">c</a><a href=\"/C\">C</a>"
                            "<a href=\"/WRITTEN\">W</a>\n"
                            "</body></html>\n";
// A link the page adds from a request answered after its load event.
const QByteArray latePage = "<a href=\"/static\">s</a><script>"
                            "fetch('/late/answer').then(function (r) { return r.text(); }).then(function (path) {"
                            " var a = document.createElement('a'); a.href = path; document.body.appendChild(a); });"
                            "</script>";
} // namespace

class PackageTest final : public QObject
{
    Q_OBJECT

private:
    const QString m_deb = QStringLiteral(VELMORA_TEST_DEB);
    QTemporaryDir m_root;
    QTemporaryDir m_tmp;
    PageServer m_site;

    QString site(const QString &path) const { return m_site.url(path); }
    QString unpacked(const QString &path) const { return m_root.filePath(path); }

    ProgramRun tool(const QString &program, const QStringList &arguments) const
    {
        return runProgram(program, arguments, QProcessEnvironment::systemEnvironment(), toolWaitMs);
    }

    ProgramRun extract(const QStringList &arguments, const QByteArray &input = {}) const
    {
        return runProgram(unpacked(QStringLiteral("usr/bin/velmora-extract")), arguments,
                          plainEnvironment(m_tmp.path()), extractWaitMs, {}, input);
    }

    QStringList linksOf(const QStringList &paths) const
    {
        QStringList links;
        for (const QString &path : paths)
            links += path.startsWith(QLatin1Char('/')) ? site(path) : path;
        return links;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(m_deb).fileName() == QStringLiteral("velmora_" VELMORA_VERSION "_amd64.deb"),
                 qPrintable(m_deb));
        QVERIFY2(QFile::exists(m_deb), qPrintable(m_deb));
        QVERIFY(m_root.isValid() && m_tmp.isValid());
        const ProgramRun unpack = tool(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root.path()});
        QVERIFY2(unpack.finished && unpack.code == 0, unpack.err.constData());

        QVERIFY(m_site.listen());
        m_site.route(QStringLiteral("/links"), linksPage);
        m_site.route(QStringLiteral("/more"), morePage);
        m_site.route(QStringLiteral("/late"), latePage);
        PageServer::Response answer;
        answer.contentType = "text/plain";
        answer.body = "/from-request";
        answer.delayMs = 300;
        m_site.route(QStringLiteral("/late/answer"), answer);
        PageServer::Response slow;
        slow.body = linksPage;
        slow.delayMs = 1000;
        m_site.route(QStringLiteral("/slow"), slow);
    }

    void contents()
    {
        const ProgramRun list = tool(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
        QVERIFY2(list.finished && list.code == 0, list.err.constData());
        QStringList paths;
        for (const QString &line : QString::fromUtf8(list.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString path = line.section(QLatin1Char(' '), -1);
            QVERIFY2(path.startsWith(QLatin1String("./usr/")) || path == QLatin1String("./"), qPrintable(line));
            // Root's, and nobody else may write.
            QVERIFY2(line.section(QLatin1Char(' '), 1, 1, QString::SectionSkipEmpty) == QLatin1String("root/root"),
                     qPrintable(line));
            QVERIFY2(line.at(5) != u'w' && line.at(8) != u'w', qPrintable(line));
            paths += path;
        }
        const QStringList expected = {
            "./usr/bin/velmora",
            "./usr/bin/velmora-extract",
            "./usr/share/applications/velmora.desktop",
            "./usr/share/icons/hicolor/16x16/apps/velmora.png",
            "./usr/share/icons/hicolor/32x32/apps/velmora.png",
            "./usr/share/icons/hicolor/48x48/apps/velmora.png",
            "./usr/share/icons/hicolor/64x64/apps/velmora.png",
            "./usr/share/icons/hicolor/scalable/apps/velmora.svg",
            "./usr/share/metainfo/example.ardentis.velmora.metainfo.xml",
            "./usr/share/man/man1/velmora.1.gz",
            "./usr/share/man/man1/velmora-extract.1.gz",
            "./usr/share/doc/velmora/copyright",
            "./usr/share/doc/velmora/changelog.gz",
        };
        for (const QString &path : expected)
            QVERIFY2(paths.contains(path), qPrintable(path));
        // Nothing of the build: tests, benchmark, headers.
        QCOMPARE(paths.filter(QRegularExpression(QStringLiteral("^\\./usr/bin/."))).size(), 2);
        QVERIFY(paths.filter(QStringLiteral("include")).isEmpty());
    }

    void control()
    {
        const ProgramRun info = tool(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), m_deb});
        QVERIFY2(info.finished && info.code == 0, info.err.constData());
        QHash<QString, QString> fields;
        for (const QString &line : QString::fromUtf8(info.out).split(QLatin1Char('\n'))) {
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            if (line.startsWith(QLatin1Char(' ')) && !line.startsWith(QLatin1String("  ")) && colon > 0)
                fields.insert(line.mid(1, colon - 1), line.mid(colon + 1).trimmed());
        }
        QCOMPARE(fields.value(QStringLiteral("Package")), QStringLiteral("velmora"));
        QCOMPARE(fields.value(QStringLiteral("Version")), QStringLiteral(VELMORA_VERSION));
        QCOMPARE(fields.value(QStringLiteral("Architecture")), QStringLiteral("amd64"));
        const QStringList depends = fields.value(QStringLiteral("Depends")).split(QStringLiteral(", "));
        for (const char *wanted : {"chromium-headless-shell | chromium", "fonts-noto-cjk", "qt6-translations-l10n"})
            QVERIFY2(depends.contains(QLatin1String(wanted)), wanted);
        // The shared-library scan ran: Qt's libraries are there, with versions.
        for (const char *library : {"libqt6core6 (", "libqt6widgets6 (", "libc6 ("}) {
            QVERIFY2(!depends.filter(QLatin1String(library)).isEmpty(),
                     qPrintable(fields.value(QStringLiteral("Depends"))));
        }
    }

    void checkers_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop-file-validate")
            << "desktop-file-validate" << QStringList{"usr/share/applications/velmora.desktop"};
        QTest::newRow("appstreamcli validate")
            << "appstreamcli"
            << QStringList{"validate", "--no-net", "usr/share/metainfo/example.ardentis.velmora.metainfo.xml"};
        QTest::newRow("lintian") << "lintian" << QStringList{"--fail-on", "error,warning", "DEB"};
    }

    void checkers()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        for (QString &argument : arguments) {
            if (argument == QLatin1String("DEB"))
                argument = m_deb;
            else if (argument.startsWith(QLatin1String("usr/")))
                argument = unpacked(argument);
        }
        const ProgramRun run = tool(program, arguments);
        QVERIFY2(run.finished && run.status == QProcess::NormalExit && run.code == 0, (run.out + run.err).constData());
        // Warnings fail too, though some of these checkers exit 0 on them.
        const QByteArray said = run.out + run.err;
        QVERIFY2(!said.contains("error") && !said.contains("warning") && !said.contains("\nW: ")
                     && !said.contains("\nE: "),
                 said.constData());
    }

    void extract_data()
    {
        QTest::addColumn<QStringList>("arguments"); // LIST: a file holding input
        QTest::addColumn<QByteArray>("input");      // standard input, or LIST's
        QTest::addColumn<QStringList>("links");     // paths on the site, or whole addresses
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("failed"); // addresses named on standard error, in order

        const QString bad = QStringLiteral("http://[链接]/");
        QTest::newRow("every link, in order") << QStringList{"/links"} << QByteArray()
                                              << QStringList{"/a", "/B", "/written", bad, "/b"} << 0 << QStringList{};
        QTest::newRow("filter is case-sensitive")
            << QStringList{"--filter", "b", "/links"} << QByteArray() << QStringList{"/b"} << 0 << QStringList{};
        QTest::newRow("filter beyond ASCII")
            << QStringList{"-f", "链接", "/links"} << QByteArray() << QStringList{bad} << 0 << QStringList{};
        QTest::newRow("dedupe across addresses, case ignored, first kept")
            << QStringList{"--dedupe=nocase", "/links", "/more"} << QByteArray()
            << QStringList{"/a", "/B", "/written", bad, "/c"} << 0 << QStringList{};
        QTest::newRow("links a page's requests bring after its load")
            << QStringList{"/late"} << QByteArray() << QStringList{"/static", "/from-request"} << 0 << QStringList{};
        QTest::newRow("--settle 0 reads at the load event")
            << QStringList{"--settle", "0", "/late"} << QByteArray() << QStringList{"/static"} << 0 << QStringList{};
        // The address box's trimming: blanks and ideographic spaces at the ends.
        QTest::newRow("failures are reported and the rest still read")
            << QStringList{"REFUSED", "ftp://example.com/", QStringLiteral(u"\u3000 /links ")} << QByteArray()
            << QStringList{"/a", "/B", "/written", bad, "/b"} << 1 << QStringList{"REFUSED", "ftp://example.com/"};
        const QByteArray list = "# pages\n\n  /more \r\n/links\n";
        QTest::newRow("addresses on standard input")
            << QStringList{} << list << QStringList{"/A", "/c", "/C", "/WRITTEN", "/a", "/B", "/written", bad, "/b"}
            << 0 << QStringList{};
        QTest::newRow("addresses from a file, after the arguments")
            << QStringList{"-d", "-i", "LIST", "/links"} << list
            << QStringList{"/a", "/B", "/written", bad, "/b", "/A", "/c", "/C", "/WRITTEN"} << 0 << QStringList{};
        // The first page comes a second late; its links still come first.
        QTest::newRow("-j 2 keeps the order of the addresses")
            << QStringList{"-j", "2", "/slow", "/more"} << QByteArray()
            << QStringList{"/a", "/B", "/written", bad, "/b", "/A", "/c", "/C", "/WRITTEN"} << 0 << QStringList{};
    }

    void extract()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, links);
        QFETCH(int, exitCode);
        QFETCH(QStringList, failed);

        // A port that was just free: Chromium is refused there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
        probe.close();
        const auto resolve = [&](QString argument) {
            if (argument == QLatin1String("REFUSED"))
                return refused;
            const qsizetype slash = argument.indexOf(QLatin1Char('/'));
            if (slash >= 0 && argument.mid(slash + 1, 1) != QLatin1String("/"))
                argument.replace(slash, 1, m_site.url(QStringLiteral("/")));
            return argument;
        };
        for (QString &argument : arguments)
            argument = resolve(argument);
        for (QString &address : failed)
            address = resolve(address);
        input.replace("/", m_site.url(QStringLiteral("/")).toUtf8());
        QTemporaryDir folder;
        const qsizetype listAt = arguments.indexOf(QLatin1String("LIST"));
        if (listAt >= 0) {
            QFile file(folder.filePath(QStringLiteral("list")));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
            arguments[listAt] = file.fileName();
            input.clear();
        }

        const ProgramRun run = extract(arguments, input);
        QVERIFY2(run.finished, run.err.constData());
        QCOMPARE(run.status, QProcess::NormalExit);
        const QString expected = linksOf(links).join(QLatin1Char('\n')) + (links.isEmpty() ? "" : "\n");
        QCOMPARE(QString::fromUtf8(run.out), expected);
        const QStringList lines = run.errLines();
        QCOMPARE(lines.size(), failed.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QVERIFY2(lines.at(i).startsWith(QStringLiteral("velmora-extract: ") + failed.at(i) + QStringLiteral(": ")),
                     qPrintable(lines.at(i)));
        QCOMPARE(run.code, exitCode);
    }

    // --output writes exactly the file named, and only that file.
    void outputFile_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file"); // empty: standard output
        QTest::addColumn<QByteArray>("expected");

        const QByteArray base = site(QStringLiteral("/")).toLatin1();
        QTest::newRow("what standard output shows, under the name given")
            << QStringList{"-o", "links.csv"} << "links.csv"
            << QByteArray(base + "a\n" + base + "B\n" + base + "written\nhttp://[\xE9\x93\xBE\xE6\x8E\xA5]/\n" + base
                          + "b\n");
        QTest::newRow("the window's format")
            << QStringList{"--gb18030", "-o", "links"} << "links"
            << QByteArray(base + "a\r\n" + base + "B\r\n" + base + "written\r\nhttp://[\xC1\xB4\xBD\xD3]/\r\n" + base
                          + "b\r\n");
        QByteArray separated = QByteArray(base + "a\n" + base + "B\n" + base
                                          + "written\nhttp://[\xE9\x93\xBE\xE6\x8E\xA5]/\n" + base + "b\n")
                                   .replace('\n', '\0');
        QTest::newRow("- is standard output") << QStringList{"-0", "-o", "-"} << "" << separated;
    }

    void outputFile()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        QFETCH(QByteArray, expected);

        QTemporaryDir folder;
        if (!file.isEmpty())
            arguments.replace(arguments.indexOf(file), folder.filePath(file));
        const ProgramRun run = extract(arguments + QStringList{site("/links")});
        QVERIFY2(run.finished && run.code == 0, run.err.constData());
        if (file.isEmpty()) {
            QCOMPARE(run.out, expected);
            return;
        }
        QVERIFY(run.out.isEmpty());
        QFile written(folder.filePath(file));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), expected);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{file});
    }

    // Every line one JSON object: the links of a page with where they came
    // from, and a failure in its place among them.
    void jsonLines()
    {
        const ProgramRun run = extract({QStringLiteral("--json"), QStringLiteral("-F"), QStringLiteral("B"),
                                        site("/links"), QStringLiteral("ftp://x/"), site("/more")});
        QVERIFY2(run.finished && run.code == 1, run.err.constData());
        QStringList seen;
        for (const QByteArray &line : run.out.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error{};
            const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, line.constData());
            const QString page = object.value(QLatin1String("page")).toString();
            if (object.contains(QLatin1String("error"))) {
                seen.append(page + QLatin1String(" error"));
                continue;
            }
            QCOMPARE(object.value(QLatin1String("url")).toString(), page);
            seen.append(page + u' ' + object.value(QLatin1String("href")).toString() + u' '
                        + QString::number(object.value(QLatin1String("index")).toInt(-1)));
        }
        QCOMPARE(seen,
                 (QStringList{site("/links") + u' ' + site("/B") + " 1", site("/links") + u' ' + site("/b") + " 4",
                              "ftp://x/ error"}));
        QCOMPARE(run.errLines().size(), 1);
    }

    // https, and the proxy the user's variables name, from the package.
    void network_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("trusted"); // Chromium trusts the test certificate
        QTest::addColumn<QString>("noProxy");
        QTest::addColumn<bool>("proxied");
        QTest::newRow("https") << "https" << true << "" << false;
        QTest::newRow("https, certificate not trusted") << "https" << false << "" << false;
        QTest::newRow("through http_proxy") << "http" << false << "" << true;
        QTest::newRow("no_proxy goes direct") << "http" << false << "example.com,127.0.0.1" << false;
    }

    void network()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, trusted);
        QFETCH(QString, noProxy);
        QFETCH(bool, proxied);

        PageServer server;
        QString why;
        QVERIFY2(scheme == QLatin1String("https") ? server.listenTls(&why) : server.listen(), qPrintable(why));
        server.route(QStringLiteral("/page"), "<a href=\"/link\">l</a>");
        ForwardProxy proxy;
        QVERIFY(proxy.listen());
        QProcessEnvironment environment = plainEnvironment(m_tmp.path());
        if (scheme == QLatin1String("http")) {
            environment.insert(QStringLiteral("http_proxy"), QStringLiteral("http://") + proxy.hostAndPort());
            environment.insert(QStringLiteral("NO_PROXY"), noProxy);
        }
        QTemporaryDir dir;
        if (trusted) {
            const QString chromium = engine::locateChromium(engine::LocatorInput::systemInputs()).executable;
            environment.insert(QStringLiteral("VELMORA_CHROMIUM"), server.writeTrustingChromium(dir.path(), chromium));
        }
        const QString page = server.url(QStringLiteral("/page"));
        const ProgramRun run =
            runProgram(unpacked(QStringLiteral("usr/bin/velmora-extract")), {page}, environment, extractWaitMs);
        QVERIFY2(run.finished, run.err.constData());
        if (scheme == QLatin1String("https") && !trusted) {
            QCOMPARE(run.code, 1);
            QVERIFY2(run.err.contains("net::ERR_CERT_AUTHORITY_INVALID"), run.err.constData());
            return;
        }
        QCOMPARE(QString::fromUtf8(run.out), server.url(QStringLiteral("/link")) + u'\n');
        QCOMPARE(run.code, 0);
        QCOMPARE(proxy.requests().contains(page), proxied);
    }

    void cleanupTestCase()
    {
        // Every Chromium profile folder was removed.
        QCOMPARE(QDir(m_tmp.path()).entryList({QStringLiteral("velmora-chromium-*")}, QDir::AllEntries | QDir::Hidden),
                 QStringList{});
    }
};

QTEST_GUILESS_MAIN(PackageTest)
#include "tst_package.moc"
