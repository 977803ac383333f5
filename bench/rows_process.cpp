// The rows measured in a child process (this program re-run in a mode of its
// own): start-up time and the app's peak memory.
#include "bench.h"
#include "data.h"
#include "engine_window.h"
#include "procfs.h"
#include "settle.h"

#include "app/application.h"
#include "app/link_list.h"
#include "app/main_window.h"
#include "app/platform.h"
#include "engine/chromium_browser.h"
#include "fake_browser.h"

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <ctime>

using namespace engine;

namespace bench {

namespace {

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// "key=value key=value" as the children print it.
QHash<QByteArray, qint64> parseReport(const QByteArray &text)
{
    QHash<QByteArray, qint64> values;
    for (const QByteArray &pair : text.simplified().split(' ')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0)
            values.insert(pair.left(equals), pair.mid(equals + 1).toLongLong());
    }
    return values;
}

struct ChildRun
{
    qint64 startNs = 0;
    QHash<QByteArray, qint64> report;
    QString error;
};

// Runs this program in a child mode with the event loop turning, so the page
// server keeps answering; the child's last output line is its report.
ChildRun runChild(const QString &self, const QStringList &arguments, int timeoutMs)
{
    ChildRun run;
    QProcess child;
    child.setProgram(self);
    child.setArguments(QStringList{QStringLiteral("--child")} + arguments);
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&child, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, [&] {
        run.error = QStringLiteral("the child did not finish within %1 s").arg(timeoutMs / 1000);
        child.kill();
    });
    run.startNs = monotonicNs();
    child.start();
    loop.exec();
    if (child.state() != QProcess::NotRunning)
        child.waitForFinished(5000);
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    run.report = parseReport(lines.last());
    if (run.error.isEmpty() && (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)) {
        const QList<QByteArray> errors = child.readAllStandardError().trimmed().split('\n');
        run.error = QStringLiteral("the child failed (%1): %2")
                        .arg(child.exitCode())
                        .arg(QString::fromLocal8Bit(errors.last()));
    }
    return run;
}

void report(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Notes the end of the window's first frame: the first paint of any of its
// widgets, and then the turn of the event loop after it, when the frame has
// been painted and flushed.
class FirstFrame final : public QObject
{
public:
    FirstFrame(QWidget *window, std::function<void()> done) : m_window(window), m_done(std::move(done))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window() == m_window) {
            m_seen = true;
            QTimer::singleShot(0, this, m_done);
        }
        return false;
    }

private:
    QWidget *m_window;
    std::function<void()> m_done;
    bool m_seen = false;
};

// As main() starts the program: the Chinese locale, the icon, the window on
// the real engine. Reports when the first frame is done and whether the
// engine's launch had begun by then.
int startupChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplication(app);

    QtPlatform platform;
    auto *engine = new ChromiumBrowser;
    MainWindow window(engine, platform);
    FirstFrame frame(&window, [engine] {
        report("first-frame-ns=" + QByteArray::number(monotonicNs())
               + " engine-pid=" + QByteArray::number(engine->processId()));
        QApplication::exit(0);
    });
    window.show();
    return QApplication::exec();
}

// The window shown with count links in List1: through the engine from url,
// or appended directly when url is empty. Reports the peak resident size.
int memoryChild(int argc, char *argv[], const QString &url, int count)
{
    QApplication app(argc, argv);
    QString error;
    Browser *engine = url.isEmpty() ? static_cast<Browser *>(new FakeBrowser) : new ChromiumBrowser;
    EngineWindow driver(engine);
    if (!driver.show(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (url.isEmpty()) {
        driver.list()->links()->append(distinctLinks(count));
        driver.waitForListPaint();
    } else {
        const QUrl page(url);
        auto link = [&](int i) { return page.resolved(QUrl(QStringLiteral("/item/%1").arg(i))).toString(); };
        if (!driver.extract(url, count, link(0), link(count - 1), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    report("peak-kb=" + QByteArray::number(procfs::selfPeakRssKb().value_or(-1))
           + " rss-kb=" + QByteArray::number(procfs::selfRssKb().value_or(-1))
           + " items=" + QByteArray::number(driver.list()->links()->count()));
    return 0;
}

} // namespace

int childMain(int argc, char *argv[])
{
    // argv: program --child mode [arguments]
    const QString mode = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (mode == QLatin1String("startup"))
        return startupChild(argc, argv);
    if (mode == QLatin1String("memory") && argc > 4)
        return memoryChild(argc, argv, QString::fromLocal8Bit(argv[3]), QByteArray(argv[4]).toInt());
    std::fprintf(stderr, "velmora-bench: unknown child mode\n");
    return 2;
}

void Bench::startupRow()
{
    if (!wanted(QStringLiteral("startup")))
        return;
    RowResult row{QStringLiteral("startup"), QStringLiteral("ms")};
    row.target = {Target::MedianAtMost, 300};
    int engineFirst = 0;
    // Run 0 fills the file cache and is not counted.
    for (int run = 0; run <= m_options.runs && row.error.isEmpty(); ++run) {
        const ChildRun child = runChild(m_options.self, {QStringLiteral("startup")}, 60000);
        const qint64 frame = child.report.value("first-frame-ns");
        if (!child.error.isEmpty())
            row.error = child.error;
        else if (frame <= child.startNs)
            row.error = QStringLiteral("the child reported no first frame");
        else if (run > 0) {
            row.samples.push_back(double(frame - child.startNs) / 1e6);
            engineFirst += child.report.value("engine-pid") > 0 ? 1 : 0;
        }
    }
    row.note =
        QStringLiteral("spawn -> first frame of the window painted, offscreen (this program started as velmora's "
                       "main() starts: locale, icon, the window on ChromiumBrowser); Chromium launched before "
                       "that frame in %1 of %2 runs")
            .arg(engineFirst)
            .arg(row.samples.size());
    print(row);
}

void Bench::memoryRows()
{
    constexpr int count = 1000000;
    for (const bool throughEngine : {true, false}) {
        const QString name = throughEngine ? QStringLiteral("memory-1m") : QStringLiteral("memory-1m-list");
        if (!wanted(name))
            continue;
        RowResult row{name, QStringLiteral("MB")};
        row.target = {Target::MedianAtMost, 250};
        const QString url = throughEngine ? scriptedAnchorsPage(QStringLiteral("big"), count) : QString();
        std::vector<double> current;
        for (int run = 0; run < m_options.runs && row.error.isEmpty(); ++run) {
            const ChildRun child = runChild(
                m_options.self,
                {QStringLiteral("memory"), url.isEmpty() ? QStringLiteral("") : url, QString::number(count)}, 900000);
            if (!child.error.isEmpty())
                row.error = child.error;
            else if (child.report.value("items") != count)
                row.error = QStringLiteral("the child's list held %1 items").arg(child.report.value("items"));
            else {
                row.samples.push_back(child.report.value("peak-kb") / 1024.0);
                current.push_back(child.report.value("rss-kb") / 1024.0);
            }
        }
        const auto summary = summarize(current);
        row.note =
            (throughEngine ? QStringLiteral("peak RSS (VmHWM) of a process whose shown window harvested a script-built "
                                            "%1-link page through ChromiumBrowser")
                           : QStringLiteral("peak RSS (VmHWM) of a process whose shown window had %1 links "
                                            "appended directly"))
                .arg(count)
            + QStringLiteral("; resident at the end: %1 MB").arg(summary ? summary->median : 0, 0, 'f', 0);
        print(row);
    }
}

} // namespace bench
