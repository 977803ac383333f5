#pragma once

#include "fake_platform.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace engine {
class Browser;
class ChromiumBrowser;
} // namespace engine
class MainWindow;
class LinkListView;
class Platform;
class QLineEdit;

// The real window on an engine, with its dialogs answered by a platform:
// one driver for the end-to-end tests and the benchmark.
class EngineWindow
{
public:
    // Takes the engine; a ChromiumBrowser is started as the window starts it.
    // Without a platform, the window's own FakePlatform answers.
    explicit EngineWindow(engine::Browser *engine, Platform *platform = nullptr);
    ~EngineWindow();

    // Shows the window and waits for it to be exposed and, with a real engine,
    // for Chromium to be ready.
    bool show(QString *error);

    MainWindow &form() const { return *m_form; }
    // The window's own FakePlatform (unused when a platform was given).
    FakePlatform &platform() { return m_fakePlatform; }
    LinkListView *list() const;
    QLineEdit *addressBox() const { return edit("Text1"); }
    QLineEdit *edit(const char *name) const;
    // The engine's Chromium, or null and 0 for a fake engine.
    engine::ChromiumBrowser *chromium() const { return m_chromium; }
    qint64 chromiumPid() const;

    // Puts url in Text1 and presses Enter.
    void enter(const QString &url);
    // Enters url, whose page holds the one link link, and waits until that
    // link ends the list and the busy sign has gone: the engine works again.
    // Returns the milliseconds it took, or -1 after timeoutMs.
    qint64 recover(const QString &url, const QString &link, int timeoutMs);
    // Destroys the window without a close, which would open the vendor's page.
    void destroy();

    // Empties the list and lets the view paint the empty state.
    void clearList();
    // Runs the event loop until the list's viewport has painted and that
    // frame is done, at most timeoutMs. Returns false on timeout.
    bool waitForListPaint(int timeoutMs = 10000);

    struct Extraction
    {
        double filledMs = 0;       // Enter -> the list holds every link
        double paintedMs = 0;      // Enter -> the full list has been painted
        double longestStallMs = 0; // the longest gap between 1 ms timer ticks
    };
    // Types url into Text1 and presses Enter, then waits for expected links
    // and checks the first and last of them.
    std::optional<Extraction> extract(const QString &url, int expected, const QString &firstLink,
                                      const QString &lastLink, QString *error);

private:
    void hearMessages(const std::function<void(const QString &)> &heard);

    FakePlatform m_fakePlatform;
    FakePlatform *m_fake; // the platform in use, when it is a fake: its messages end the waits
    engine::ChromiumBrowser *m_chromium = nullptr;
    std::unique_ptr<MainWindow> m_form;
};
