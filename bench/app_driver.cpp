#include "app_driver.h"

#include "proc_stats.h"

#include "app/link_list.h"
#include "app/main_window.h"
#include "engine/chromium_browser.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace engine;


namespace bench {

namespace {

constexpr int readyTimeoutMs = 60000;
constexpr int extractionTimeoutMs = 300000;

// Calls back for every paint event of the watched widget.
class PaintWatch final : public QObject
{
public:
    PaintWatch(QWidget *widget, std::function<void()> onPaint) : m_widget(widget), m_onPaint(std::move(onPaint))
    {
        m_widget->installEventFilter(this);
    }
    ~PaintWatch() override { m_widget->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::Paint)
            m_onPaint();
        return false;
    }

private:
    QWidget *m_widget;
    std::function<void()> m_onPaint;
};

double millis(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

AppDriver::AppDriver(Browser *engine)
    : m_chromium(qobject_cast<ChromiumBrowser *>(engine)), m_form(std::make_unique<Form1>(engine, m_platform))
{
}

AppDriver::~AppDriver()
{
    // Destroyed without a close: closing would open the vendor's page.
    m_form.reset();
}

LinkListView *AppDriver::list() const
{
    return m_form->findChild<LinkListView *>(QStringLiteral("List1"));
}

QLineEdit *AppDriver::text1() const
{
    return m_form->findChild<QLineEdit *>(QStringLiteral("Text1"));
}

qint64 AppDriver::chromiumPid() const
{
    return m_chromium ? m_chromium->processId() : 0;
}

bool AppDriver::show(QString *error)
{
    m_form->show();
    if (!QTest::qWaitForWindowExposed(m_form.get())) {
        *error = QStringLiteral("the window was never exposed");
        return false;
    }
    if (!m_chromium)
        return true;
    QEventLoop loop;
    QObject::connect(m_chromium, &ChromiumBrowser::ready, &loop, &QEventLoop::quit);
    m_platform.onMessage = [&](const FakePlatform::Message &message) {
        *error = message.text;
        loop.quit();
    };
    QTimer::singleShot(readyTimeoutMs, &loop, [&] {
        *error = QStringLiteral("Chromium was not ready within %1 s").arg(readyTimeoutMs / 1000);
        loop.quit();
    });
    if (!m_chromium->isReady())
        loop.exec();
    m_platform.onMessage = nullptr;
    return m_chromium->isReady();
}

void AppDriver::clearList()
{
    list()->links()->clear();
    waitForListPaint(2000);
}

bool AppDriver::waitForListPaint(int timeoutMs)
{
    QEventLoop loop;
    bool painted = false;
    PaintWatch watch(list()->viewport(), [&] {
        // Queued: runs once this frame has been painted and flushed.
        QTimer::singleShot(0, &loop, [&] {
            painted = true;
            loop.quit();
        });
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    list()->viewport()->update();
    loop.exec();
    return painted;
}

std::optional<AppDriver::Extraction> AppDriver::extract(const QString &url, int expected, const QString &firstLink,
                                                        const QString &lastLink, QString *error)
{
    clearList();
    LinkListModel *links = list()->links();
    QLineEdit *address = text1();
    address->setText(url);

    QEventLoop loop;
    QElapsedTimer clock;
    Extraction result;
    bool filled = false;
    bool done = false;

    // A 1 ms timer: any gap between its ticks is time the event loop was busy.
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QElapsedTimer sinceTick;
    auto tick = [&] {
        result.longestStallMs = std::max(result.longestStallMs, millis(sinceTick));
        sinceTick.start();
    };
    QObject::connect(&ticker, &QTimer::timeout, &loop, tick);

    const auto onRows = QObject::connect(links, &LinkListModel::rowsInserted, &loop, [&] {
        if (!filled && links->count() >= expected) {
            filled = true;
            result.filledMs = millis(clock);
        }
    });
    PaintWatch watch(list()->viewport(), [&] {
        if (!filled)
            return;
        QTimer::singleShot(0, &loop, [&] {
            if (done)
                return;
            done = true;
            result.paintedMs = millis(clock);
            tick();
            loop.quit();
        });
    });
    m_platform.onMessage = [&](const FakePlatform::Message &message) {
        *error = message.text;
        loop.quit();
    };
    QTimer::singleShot(extractionTimeoutMs, &loop, [&] {
        *error = QStringLiteral("the list had %1 of %2 links after %3 s")
                     .arg(links->count())
                     .arg(expected)
                     .arg(extractionTimeoutMs / 1000);
        loop.quit();
    });

    ticker.start();
    sinceTick.start();
    clock.start();
    QTest::keyClick(address, Qt::Key_Return);
    if (!done && error->isEmpty())
        loop.exec();
    ticker.stop();
    QObject::disconnect(onRows);
    m_platform.onMessage = nullptr;

    if (!error->isEmpty())
        return std::nullopt;
    const QStringList &items = links->items();
    if (items.size() != expected || items.first() != firstLink || items.last() != lastLink) {
        *error = QStringLiteral("the list holds %1 links from %2 to %3, not %4 from %5 to %6")
                     .arg(items.size())
                     .arg(items.value(0), items.value(items.size() - 1))
                     .arg(expected)
                     .arg(firstLink, lastLink);
        return std::nullopt;
    }
    return result;
}

double settle(const QList<qint64> &pids, int maxMs)
{
    // Idle: the trees used at most 20 ms of CPU in a 250 ms window.
    constexpr int windowMs = 250;
    constexpr qint64 idleTicks = 2;
    QElapsedTimer clock;
    clock.start();
    auto ticks = [&] {
        qint64 total = 0;
        for (qint64 pid : pids)
            if (pid > 0)
                total += proc::treeCpuTicks(pid);
        return total;
    };
    qint64 before = ticks();
    while (clock.elapsed() < maxMs) {
        spin(windowMs);
        const qint64 now = ticks();
        if (now - before <= idleTicks)
            break;
        before = now;
    }
    return millis(clock);
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
