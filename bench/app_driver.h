#pragma once

#include "fake_platform.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace engine {
class Browser;
class ChromiumBrowser;
} // namespace engine
class Form1;
class LinkListView;
class QLineEdit;

namespace bench {


// The real window, offscreen, with its dialogs answered by the fake platform.
class AppDriver
{
public:
    // Takes the engine; a ChromiumBrowser is started as the window starts it.
    explicit AppDriver(engine::Browser *engine);
    ~AppDriver();

    // Shows the window and waits for it to be exposed and, with a real engine,
    // for Chromium to be ready.
    bool show(QString *error);

    Form1 &form() const { return *m_form; }
    FakePlatform &platform() { return m_platform; }
    LinkListView *list() const;
    QLineEdit *text1() const;
    // The engine's Chromium, or 0 for a fake engine.
    qint64 chromiumPid() const;

    // Empties the list and lets the view paint the empty state.
    void clearList();
    // Runs the event loop until the list's viewport has painted and that
    // frame is done, at most timeoutMs. Returns false on timeout.
    bool waitForListPaint(int timeoutMs = 10000);

    struct Extraction
    {
        double filledMs = 0;  // Enter -> the list holds every link
        double paintedMs = 0; // Enter -> the full list has been painted
        double longestStallMs = 0; // the longest gap between 1 ms timer ticks
    };
    // Types url into Text1 and presses Enter, then waits for expected links
    // and checks the first and last of them.
    std::optional<Extraction> extract(const QString &url, int expected, const QString &firstLink,
                                      const QString &lastLink, QString *error);

private:
    FakePlatform m_platform;
    engine::ChromiumBrowser *m_chromium = nullptr;
    std::unique_ptr<Form1> m_form;
};

// Runs the event loop until the Chromium trees under pids use almost no CPU
// (at most maxMs), so one measurement does not pay for the previous one's
// background work. Returns the milliseconds waited.
double settle(const QList<qint64> &pids, int maxMs = 15000);

// Runs the event loop for ms.
void spin(int ms);

} // namespace bench
