// velmora-extract's run logic in process, on fake engine lanes: what it
// loads, in which order it delivers, and the bytes of each output format.
#include "cli/extractor.h"
#include "cli/options.h"
#include "fake_browser.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

namespace {

// The pages the fake engine knows: their links, or why they fail.
struct FakePage
{
    engine::Links links;
    QString error;
    // Said about it: LinksCut just before its read, ClosedForMemory after.
    std::optional<engine::PageNotice> notice = {};

    // What the engine reads of it: the window's anchors, or what a scope covers.
    QStringList anchors() const
    {
        QStringList hrefs;
        for (const engine::Link &link : links)
            if (link.element == engine::Link::Element::A && link.frame.isEmpty() && !link.inShadowTree)
                hrefs.append(link.href);
        return hrefs;
    }
    engine::Links read(const engine::LinkScope &scope) const
    {
        engine::Links kept;
        for (engine::Link link : links) {
            if ((!link.frame.isEmpty() && !scope.frames) || (link.inShadowTree && !scope.shadowTrees)
                || (link.element == engine::Link::Element::Area && !scope.areas))
                continue;
            if (!scope.text)
                link.text.clear();
            kept.append(link);
        }
        return kept;
    }
};

engine::Link link(const QString &href, const QString &text = {})
{
    return {href, text, {}, engine::Link::Element::A, false};
}

const QHash<QString, FakePage> &fakeSite()
{
    using engine::Link;
    static const QHash<QString, FakePage> pages{
        {QStringLiteral("http://a.test/"),
         {{link("http://a.test/x", " x"), link("http://a.test/Y"), link(""), link("http://a.test/y")}, {}}},
        {QStringLiteral("http://b.test/"),
         {{link("http://a.test/x", "x"),
           {"http://f.test/in-frame", "in frame", "http://f.test/", Link::Element::A, false},
           {"http://b.test/shadow", "", {}, Link::Element::A, true},
           link("http://b.test/z", "z"),
           {"http://b.test/map", "", {}, Link::Element::Area, false}},
          {}}},
        // The text as a page may hold it: a control and half a surrogate pair.
        {QStringLiteral("HTTPS://c.test/"),
         {{link(QString::fromUtf16(u"http://c.test/链接\r\n"), QString::fromUtf16(u"链\u0001接") + QChar(0xD800))},
          {}}},
        {QStringLiteral("http://down.test/"), {{}, QStringLiteral("refused")}},
        // Its links before the harvest bound.
        {QStringLiteral("http://cut.test/"),
         {{link("http://cut.test/1"), link("http://cut.test/2")}, {}, engine::PageNotice::LinksCut}},
        {QStringLiteral("http://hog.test/"), {{link("http://hog.test/1")}, {}, engine::PageNotice::ClosedForMemory}},
    };
    return pages;
}

// Collects what a run delivers, as standard output would get it.
class Collected final : public cli::Sink
{
public:
    explicit Collected(cli::Format format) : m_format(format) {}
    bool deliver(const cli::PageOutcome &outcome) override
    {
        bytes += cli::formatted(outcome, m_format);
        pages.append(outcome.page);
        if (!outcome.cut.isEmpty())
            said.append(outcome.page + QLatin1String(": ") + outcome.cut);
        return true;
    }
    void warn(const QString &page, const QString &message) override
    {
        said.append(page + QLatin1String(": ") + message);
    }
    QByteArray bytes;
    QStringList pages;
    QStringList said; // the lines for standard error beside the failures

private:
    cli::Format m_format;
};

} // namespace

class ExtractorTest final : public QObject
{
    Q_OBJECT

private slots:
    void runs_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("readFirst"); // pages loading at once finish in this order
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("said");

        const QStringList ab{"http://a.test/", "http://b.test/"};
        const int allRead = int(cli::Extractor::Outcome::AllRead);
        const int someFailed = int(cli::Extractor::Outcome::SomeFailed);
        QTest::newRow("lines, empty hrefs dropped")
            << QStringList{} << ab << QStringList{}
            << QByteArray("http://a.test/x\nhttp://a.test/Y\nhttp://a.test/y\nhttp://a.test/x\nhttp://b.test/z\n")
            << allRead << QStringList{};
        QTest::newRow("-0") << QStringList{"-0"} << QStringList{"http://b.test/"} << QStringList{}
                            << QByteArray("http://a.test/x\0http://b.test/z\0", 32) << allRead << QStringList{};
        // Paths are case-sensitive: only the same text is a repeat.
        QTest::newRow("--dedupe is exact") << QStringList{"--dedupe"} << ab << QStringList{}
                                           << QByteArray("http://a.test/x\nhttp://a.test/Y\nhttp://a.test/y\n"
                                                         "http://b.test/z\n")
                                           << allRead << QStringList{};
        QTest::newRow("--dedupe=nocase is the window's rule")
            << QStringList{"--dedupe=nocase"} << ab << QStringList{}
            << QByteArray("http://a.test/x\nhttp://a.test/Y\nhttp://b.test/z\n") << allRead << QStringList{};
        QTest::newRow("-F ignores case, -f does not")
            << QStringList{"-F", "/y"} << QStringList{"http://a.test/"} << QStringList{}
            << QByteArray("http://a.test/Y\nhttp://a.test/y\n") << allRead << QStringList{};
        // Lane 1's page is read first; it still comes second, and the
        // repeat is dropped from it, not from the page before.
        QTest::newRow("-j 2 keeps the input order")
            << QStringList{"-j", "2", "-d"} << ab << QStringList{"http://b.test/", "http://a.test/"}
            << QByteArray("http://a.test/x\nhttp://a.test/Y\nhttp://a.test/y\nhttp://b.test/z\n") << allRead
            << QStringList{};
        QTest::newRow("-j 3, failures in their place")
            << QStringList{"-j", "3", "--json"} << QStringList{"ftp://a.test/", "http://down.test/", "http://b.test/"}
            << QStringList{"http://b.test/", "http://down.test/"}
            << QByteArray("{\"page\":\"ftp://a.test/\",\"error\":\"only http:// and https:// addresses are read\"}\n"
                          "{\"page\":\"http://down.test/\",\"error\":\"refused\"}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://a.test/x\","
                          "\"index\":0,\"text\":\"x\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://b.test/z\","
                          "\"index\":1,\"text\":\"z\",\"element\":\"a\"}\n")
            << someFailed << QStringList{};
        // index counts the page's anchors, the empty and the filtered ones too.
        QTest::newRow("--json, the page as given, https in capitals")
            << QStringList{"--json", "-f", "test/"}
            << QStringList{QString::fromUtf16(u" \u3000HTTPS://c.test/"), "http://b.test/"} << QStringList{}
            << QByteArray("{\"page\":\" \xE3\x80\x80HTTPS://c.test/\",\"url\":\"HTTPS://c.test/\",\"href\":"
                          "\"http://c.test/\xE9\x93\xBE\xE6\x8E\xA5%0D%0A\",\"index\":0,"
                          "\"text\":\"\xE9\x93\xBE%01\xE6\x8E\xA5\xEF\xBF\xBD\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://a.test/x\","
                          "\"index\":0,\"text\":\"x\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://b.test/z\","
                          "\"index\":1,\"text\":\"z\",\"element\":\"a\"}\n")
            << allRead << QStringList{};
        QTest::newRow("-f, index past an empty and a filtered href")
            << QStringList{"--json", "-f", "y"} << QStringList{"http://a.test/"} << QStringList{}
            << QByteArray("{\"page\":\"http://a.test/\",\"url\":\"http://a.test/\",\"href\":\"http://a.test/y\","
                          "\"index\":3,\"text\":\"\",\"element\":\"a\"}\n")
            << allRead << QStringList{};
        // Each option adds its own links, in their place; index counts them all.
        QTest::newRow("--frames --areas, lines")
            << QStringList{"--frames", "--areas"} << QStringList{"http://b.test/"} << QStringList{}
            << QByteArray("http://a.test/x\nhttp://f.test/in-frame\n"
                          "http://b.test/z\nhttp://b.test/map\n")
            << allRead << QStringList{};
        QTest::newRow("--all --json, where each came from, repeats dropped")
            << QStringList{"--all", "--json", "-d"} << ab << QStringList{}
            << QByteArray("{\"page\":\"http://a.test/\",\"url\":\"http://a.test/\",\"href\":\"http://a.test/x\","
                          "\"index\":0,\"text\":\" x\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://a.test/\",\"url\":\"http://a.test/\",\"href\":\"http://a.test/Y\","
                          "\"index\":1,\"text\":\"\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://a.test/\",\"url\":\"http://a.test/\",\"href\":\"http://a.test/y\","
                          "\"index\":3,\"text\":\"\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://f.test/in-frame\","
                          "\"index\":1,\"text\":\"in frame\",\"element\":\"a\",\"frame\":\"http://f.test/\"}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://b.test/shadow\","
                          "\"index\":2,\"text\":\"\",\"element\":\"a\",\"shadow\":true}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://b.test/z\","
                          "\"index\":3,\"text\":\"z\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://b.test/\",\"url\":\"http://b.test/\",\"href\":\"http://b.test/map\","
                          "\"index\":4,\"text\":\"\",\"element\":\"area\"}\n")
            << allRead << QStringList{};
        QTest::newRow("--gb18030") << QStringList{"--gb18030"} << QStringList{"HTTPS://c.test/"} << QStringList{}
                                   << QByteArray("http://c.test/\xC1\xB4\xBD\xD3%0D%0A\r\n") << allRead
                                   << QStringList{};
        // The links before the harvest bound are written, and the run fails.
        const QString cutMessage = QStringLiteral("links past the bound left out");
        QTest::newRow("links cut at the bound") << QStringList{} << QStringList{"http://cut.test/"} << QStringList{}
                                                << QByteArray("http://cut.test/1\nhttp://cut.test/2\n") << someFailed
                                                << QStringList{"http://cut.test/: " + cutMessage};
        QTest::newRow("links cut at the bound, --json")
            << QStringList{"--json"} << QStringList{"http://cut.test/"} << QStringList{}
            << QByteArray("{\"page\":\"http://cut.test/\",\"url\":\"http://cut.test/\",\"href\":\"http://cut.test/1\","
                          "\"index\":0,\"text\":\"\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://cut.test/\",\"url\":\"http://cut.test/\",\"href\":\"http://cut.test/2\","
                          "\"index\":1,\"text\":\"\",\"element\":\"a\"}\n"
                          "{\"page\":\"http://cut.test/\",\"error\":\"links past the bound left out\",\"cut\":true}\n")
            << someFailed << QStringList{"http://cut.test/: " + cutMessage};
        // A page read whole, closed later: a warning, nothing else changes.
        QTest::newRow("closed for its memory after the read")
            << QStringList{} << QStringList{"http://hog.test/", "http://a.test/"} << QStringList{}
            << QByteArray("http://hog.test/1\nhttp://a.test/x\nhttp://a.test/Y\nhttp://a.test/y\n") << allRead
            << QStringList{"http://hog.test/: page closed for its memory"};
    }

    void runs()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, readFirst);
        QFETCH(QByteArray, expected);
        QFETCH(int, outcome);
        QFETCH(QStringList, said);

        const cli::ParsedArguments parsed =
            cli::parseArguments(QStringList{"velmora-extract"} + options + QStringList{"x"}, true);
        QCOMPARE(parsed.kind, cli::ParsedArguments::Kind::Run);
        FakeBrowser browser;
        QList<engine::Browser *> lanes{&browser};
        while (lanes.size() < parsed.options.jobs)
            lanes.append(browser.addLane());
        Collected sink(parsed.options.format);
        cli::Extractor extractor(lanes, parsed.options, addresses, sink);
        QSignalSpy finished(&extractor, &cli::Extractor::finished);
        extractor.start();
        extractor.engineReady();

        QList<qsizetype> answered(lanes.size(), 0);
        while (finished.isEmpty()) {
            QCoreApplication::processEvents();
            // The lanes waiting for their page, the one named first in
            // readFirst answered first.
            FakeBrowser *next = nullptr;
            qsizetype rank = readFirst.size();
            for (qsizetype i = 0; i < lanes.size(); ++i) {
                auto *lane = static_cast<FakeBrowser *>(lanes.at(i));
                if (lane->navigations.size() == answered.at(i))
                    continue;
                const qsizetype at = readFirst.indexOf(lane->navigations.constLast());
                if (!next || (at >= 0 && at < rank)) {
                    next = lane;
                    rank = at >= 0 ? at : readFirst.size();
                }
            }
            if (!next)
                continue;
            ++answered[lanes.indexOf(next)];
            const QString url = next->navigations.constLast();
            const FakePage page = fakeSite().value(url);
            if (page.notice == engine::PageNotice::LinksCut)
                next->notice(*page.notice, QStringLiteral("links past the bound left out"), url);
            if (!page.error.isEmpty())
                next->failNavigation(page.error);
            else if (next->linkScope.isPlain())
                next->completeTopLevel(page.anchors(), url);
            else
                next->readLinks(page.read(next->linkScope), url);
            if (page.notice == engine::PageNotice::ClosedForMemory)
                next->notice(*page.notice, QStringLiteral("page closed for its memory"), url);
        }
        QCOMPARE(sink.bytes, expected);
        QCOMPARE(sink.said, said);
        QCOMPARE(finished.constFirst().constFirst().value<cli::Extractor::Outcome>(), cli::Extractor::Outcome(outcome));
        // Never more pages loading than lanes, and each loaded once.
        QStringList loaded;
        for (engine::Browser *lane : lanes)
            loaded += static_cast<FakeBrowser *>(lane)->navigations;
        QCOMPARE(loaded.size(), QSet<QString>(loaded.cbegin(), loaded.cend()).size());
        if (parsed.options.format == cli::Format::Json) {
            for (const QByteArray &line : sink.bytes.split('\n')) {
                if (line.isEmpty())
                    continue;
                QJsonParseError error{};
                const QJsonDocument document = QJsonDocument::fromJson(line, &error);
                QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), line.constData());
                QVERIFY(document.object().contains(QLatin1String("page")));
            }
        }
    }

    // Whatever a page or its address holds, every line stays one valid
    // JSON object that gives back the same text.
    void jsonKeepsAnyText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes and backslashes") << QStringLiteral("a\"b\\c");
        QTest::newRow("controls") << QString(QChar(0)) + QString::fromUtf16(u"\u0001\n\r\t\u001F\u007F");
        QTest::newRow("line separators, a byte-order mark") << QString::fromUtf16(u"\uFEFF\u2028\u2029");
        QTest::newRow("a pair and a half") << QString(QChar(0xD83D)) + QChar(0xDE00) + QChar(0xDC00) + QChar(0xD800);
    }

    void jsonKeepsAnyText()
    {
        QFETCH(QString, text);
        cli::PageOutcome outcome;
        outcome.page = text;
        outcome.url = text;
        outcome.links = QStringList{text};
        outcome.positions = {7};
        outcome.details = {{text, text, true, true}};
        for (bool failed : {false, true}) {
            outcome.error = failed ? text : QString();
            if (failed)
                outcome.error += QLatin1Char('!');
            // A page read as it stood at --timeout: its link, then its error.
            const QByteArray bytes = cli::formatted(outcome, cli::Format::Json);
            QCOMPARE(bytes.count('\n'), failed ? 2 : 1);
            const QJsonObject object = QJsonDocument::fromJson(bytes.split('\n').at(failed ? 1 : 0)).object();
            QCOMPARE(object.value(QLatin1String("page")).toString(), text);
            QCOMPARE(object.value(QLatin1String(failed ? "error" : "href")).toString(), failed ? outcome.error : text);
            if (!failed) {
                QCOMPARE(object.value(QLatin1String("text")).toString(), text);
                QCOMPARE(object.value(QLatin1String("frame")).toString(), text);
            }
        }
    }
};

QTEST_GUILESS_MAIN(ExtractorTest)
#include "tst_extractor.moc"
