#include "app/application.h"
#include "app/main_window.h"
#include "app/platform.h"
#include "engine/chromium_browser.h"

#include <QApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop normally, so the engine is shut down
// and its profile folder removed.
void quitOnTerminate(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    // exit(), not quit(): quit() closes the window first, and a close opens
    // the vendor's page, which a signal from outside should not do.
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::exit(0); });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
} // namespace
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplication(app);

#ifdef Q_OS_UNIX
    quitOnTerminate(app);
#endif

    QtPlatform platform;
    Form1 window(new engine::ChromiumBrowser, platform);
    window.show();
    return QApplication::exec();
}
