#include "engine_window.h"

#include "stall_meter.h"

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

EngineWindow::EngineWindow(Browser *engine, Platform *platform)
    : m_fake(platform ? dynamic_cast<FakePlatform *>(platform) : &m_fakePlatform),
      m_chromium(qobject_cast<ChromiumBrowser *>(engine)),
      m_form(std::make_unique<MainWindow>(engine, platform ? *platform : m_fakePlatform))
{}

EngineWindow::~EngineWindow()
{
    destroy();
}

void EngineWindow::destroy()
{
    m_chromium = nullptr; // the window owns it
    m_form.reset();
}

LinkListView *EngineWindow::list() const
{
    return m_form->findChild<LinkListView *>(QStringLiteral("List1"));
}

QLineEdit *EngineWindow::edit(const char *name) const
{
    return m_form->findChild<QLineEdit *>(QLatin1String(name));
}

void EngineWindow::hearMessages(const std::function<void(const QString &)> &heard)
{
    if (!m_fake)
        return;
    m_fake->onMessage = nullptr;
    if (heard)
        m_fake->onMessage = [heard](const FakePlatform::Message &message) { heard(message.text); };
}

void EngineWindow::enter(const QString &url)
{
    addressBox()->setText(url);
    QTest::keyClick(addressBox(), Qt::Key_Return);
}

qint64 EngineWindow::recover(const QString &url, const QString &link, int timeoutMs)
{
    LinkListModel *links = list()->links();
    const qsizetype before = links->count();
    QElapsedTimer clock;
    clock.start();
    enter(url);
    const bool back = QTest::qWaitFor(
        [&] { return links->count() > before && links->items().constLast() == link && !edit("Text3")->isVisible(); },
        timeoutMs);
    return back ? clock.elapsed() : -1;
}

qint64 EngineWindow::chromiumPid() const
{
    return m_chromium ? m_chromium->processId() : 0;
}

bool EngineWindow::show(QString *error)
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
    hearMessages([&](const QString &text) {
        *error = text;
        loop.quit();
    });
    QTimer::singleShot(readyTimeoutMs, &loop, [&] {
        *error = QStringLiteral("Chromium was not ready within %1 s").arg(readyTimeoutMs / 1000);
        loop.quit();
    });
    if (!m_chromium->isReady())
        loop.exec();
    hearMessages({});
    return m_chromium->isReady();
}

void EngineWindow::clearList()
{
    list()->links()->clear();
    waitForListPaint(2000);
}

bool EngineWindow::waitForListPaint(int timeoutMs)
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

std::optional<EngineWindow::Extraction> EngineWindow::extract(const QString &url, int expected,
                                                              const QString &firstLink, const QString &lastLink,
                                                              QString *error)
{
    clearList();
    LinkListModel *links = list()->links();
    QLineEdit *address = addressBox();
    address->setText(url);

    QEventLoop loop;
    QElapsedTimer clock;
    Extraction result;
    bool filled = false;
    bool done = false;

    std::optional<StallMeter> stalls;
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
            stalls->stop();
            loop.quit();
        });
    });
    hearMessages([&](const QString &text) {
        *error = text;
        loop.quit();
    });
    QTimer::singleShot(extractionTimeoutMs, &loop, [&] {
        *error = QStringLiteral("the list had %1 of %2 links after %3 s")
                     .arg(links->count())
                     .arg(expected)
                     .arg(extractionTimeoutMs / 1000);
        loop.quit();
    });

    // Any gap between its 1 ms ticks is time the event loop was busy.
    stalls.emplace();
    clock.start();
    QTest::keyClick(address, Qt::Key_Return);
    if (!done && error->isEmpty())
        loop.exec();
    stalls->stop();
    result.longestStallMs = stalls->longestMs();
    QObject::disconnect(onRows);
    hearMessages({});

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
