#include "app/application.h"
#include "app/main_window.h"
#include "app/platform.h"
#include "engine/chromium_browser.h"

#include <QApplication>

#ifdef Q_OS_UNIX
#include "core/quit_signals.h"

#include <csignal>
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplication(app);

#ifdef Q_OS_UNIX
    // A signal that asks the program to end ends the event loop normally, so
    // the engine is shut down and its profile folder removed.
    quit_signals::Watcher quitSignals(quit_signals::terminating(), quit_signals::Restart::Calls);
    // exit(), not quit(): quit() closes the window first, and a close opens
    // the vendor's page, which a signal from outside should not do.
    QObject::connect(&quitSignals, &quit_signals::Watcher::caught, &app, [] { QApplication::exit(0); });
#endif

    QtPlatform platform;
    MainWindow window(new engine::ChromiumBrowser, platform);
    window.show();
    return QApplication::exec();
}
