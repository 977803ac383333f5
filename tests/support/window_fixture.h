#pragma once

#include "app/link_list.h"
#include "app/main_window.h"
#include "fake_browser.h"
#include "fake_platform.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <memory>

// A MainWindow on the fakes, with its controls found by name as a user of the
// window's objectNames would.
struct WindowFixture
{
    FakePlatform platform;
    FakeBrowser *browser = new FakeBrowser;
    std::unique_ptr<MainWindow> form = std::make_unique<MainWindow>(browser, platform);

    template <typename T>
    T *get(const char *name) const
    {
        auto *found = form->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no child named %s", name);
        return found;
    }
    QLineEdit *addressBox() const { return get<QLineEdit>("Text1"); }
    QLineEdit *savePath() const { return get<QLineEdit>("Text2"); }
    QLineEdit *busyIndicator() const { return get<QLineEdit>("Text3"); }
    QLabel *filterText() const { return get<QLabel>("Label2"); }
    LinkListView *linkList() const { return get<LinkListView>("List1"); }
    QPushButton *extractButton() const { return get<QPushButton>("Command1"); }
    QAction *action(const char *name) const { return get<QAction>(name); }
    QStringList items() const { return linkList()->links()->items(); }

    void showAndActivate()
    {
        form->show();
        form->activateWindow();
        QVERIFY2(QTest::qWaitForWindowExposed(form.get()), "window not exposed");
    }
    // Engine events reach the window queued, as from the real engine.
    void deliver() { QCoreApplication::processEvents(); }
};
