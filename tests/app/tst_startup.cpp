// The window as it first appears: caption, controls, fonts, menus, focus.
#include "app/application.h"
#include "velmora_config.h"
#include "window_fixture.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>

class StartupTest : public QObject
{
    Q_OBJECT
private slots:
    void captionIsComposedAtLoad();
    void controlsHaveTheirPlacesAndStartState_data();
    void controlsHaveTheirPlacesAndStartState();
    void songFontIsRequestedWhereSet();
    void tabOrderFollowsTheControls();
    void menuTreeHasEveryItemInOrder();
    void accessKeysOpenTheMenus();
    void focusIsInAddressBoxAndWindowCentred();
    void resizingMovesNothing();
    void busyIndicatorIsFramelessAndAboveList();
    void engineStartsOnceTheEventLoopRuns();
    void programSetUpGivesIconLocaleAndNames();
};

void StartupTest::captionIsComposedAtLoad()
{
    WindowFixture w;
    QCOMPARE(w.form->windowTitle(),
             QString::fromUtf16(u"Ardentis科技-VelmoraV1.1(") + QStringLiteral(VELMORA_VENDOR_HOST ")"));
}

void StartupTest::controlsHaveTheirPlacesAndStartState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("text");
    // twips / 15, rounded
    QTest::newRow("Text1") << "Text1" << QRect(80, 8, 265, 23) << true << "http://";
    QTest::newRow("Label1") << "Label1" << QRect(8, 16, 73, 17) << true << QString::fromUtf16(u"提取地址：");
    QTest::newRow("List1") << "List1" << QRect(0, 40, 401, 160) << true << QString();
    QTest::newRow("Command1") << "Command1" << QRect(352, 8, 49, 25) << true << QString::fromUtf16(u"提 取");
    QTest::newRow("Text2") << "Text2" << QRect(360, 16, 7, 18) << false << QString();
    QTest::newRow("Text3") << "Text3" << QRect(160, 104, 89, 17) << false << QString::fromUtf16(u"请稍后......");
    QTest::newRow("Label2") << "Label2" << QRect(0, 208, 145, 17) << false << QString();
}

void StartupTest::controlsHaveTheirPlacesAndStartState()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(bool, visible);
    QFETCH(QString, text);
    WindowFixture w;
    w.showAndActivate();
    auto *control = w.form->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->isVisible(), visible);
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        QCOMPARE(edit->text(), text);
    else if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), text);
    else
        QCOMPARE(w.linkList()->model()->rowCount(), 0);
}

void StartupTest::songFontIsRequestedWhereSet()
{
    WindowFixture w;
    for (const char *name : {"Text1", "Label1", "Text3"}) {
        const QFont font = w.get<QWidget>(name)->font();
        QVERIFY2(font.families().startsWith(QStringLiteral("SimSun")), name);
        QVERIFY2(font.families().contains(QStringLiteral("Noto Serif CJK SC")), name);
        QCOMPARE(font.pointSizeF(), 10.5);
        QCOMPARE(font.weight(), QFont::Normal);
        QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());
    }
    // The others keep the window's default font.
    for (const char *name : {"List1", "Command1", "Text2", "Label2"})
        QVERIFY2(!w.get<QWidget>(name)->font().families().contains(QStringLiteral("SimSun")), name);
}

void StartupTest::tabOrderFollowsTheControls()
{
    WindowFixture w;
    w.showAndActivate();
    QTRY_COMPARE(QApplication::focusWidget(), w.addressBox());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.linkList());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.extractButton());
    // Hidden and borderless boxes take no focus: back to the address box.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.addressBox());
}

void StartupTest::menuTreeHasEveryItemInOrder()
{
    WindowFixture w;
    const QList<QAction *> bar = w.form->menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar.at(0)->menu()->objectName(), QStringLiteral("gj"));
    QCOMPARE(bar.at(0)->text(), QString::fromUtf16(u"工 具(&T)"));
    QCOMPARE(bar.at(1)->menu()->objectName(), QStringLiteral("xx"));
    QCOMPARE(bar.at(1)->text(), QString::fromUtf16(u"软件信息(&V)"));

    auto tree = [](QMenu *menu) {
        QStringList out;
        for (QAction *a : menu->actions()) {
            // Every item starts enabled, visible, unchecked and without a shortcut.
            const bool plain = a->isEnabled() && a->isVisible() && !a->isChecked() && a->shortcut().isEmpty();
            out << a->objectName() + QLatin1Char('=') + (a->isSeparator() ? QStringLiteral("-") : a->text())
                    + (plain ? QString() : QStringLiteral(" (not plain)"));
        }
        return out;
    };
    QCOMPARE(
        tree(bar.at(0)->menu()),
        QStringList({QString::fromUtf16(u"glsz=过滤设置"), QStringLiteral("gg=-"), QString::fromUtf16(u"bc=保存列表"),
                     QStringLiteral("g0=-"), QString::fromUtf16(u"glcf=过滤重复"), QStringLiteral("g1=-"),
                     QString::fromUtf16(u"scxz=删除选择"), QString::fromUtf16(u"scqb=删除全部")}));
    QCOMPARE(tree(bar.at(1)->menu()),
             QStringList({QString::fromUtf16(u"rjxx=软件信息"), QString::fromUtf16(u"fwgw=访问官网")}));
}

void StartupTest::accessKeysOpenTheMenus()
{
    WindowFixture w;
    w.showAndActivate();
    auto *gj = w.get<QMenu>("gj");
    auto *xx = w.get<QMenu>("xx");
    QTRY_COMPARE(QApplication::focusWidget(), w.addressBox());
    // Typed where the user types: in the address box, which has the focus.
    QTest::keyClick(w.addressBox(), Qt::Key_T, Qt::AltModifier);
    QTRY_VERIFY(gj->isVisible());
    QCOMPARE(w.addressBox()->text(), QStringLiteral("http://"));
    QTest::keyClick(gj, Qt::Key_Escape);
    QTRY_VERIFY(!gj->isVisible());
    QTest::keyClick(w.addressBox(), Qt::Key_V, Qt::AltModifier);
    QTRY_VERIFY(xx->isVisible());
    QTest::keyClick(xx, Qt::Key_Escape);
    QTRY_VERIFY(!xx->isVisible());
}

void StartupTest::focusIsInAddressBoxAndWindowCentred()
{
    WindowFixture w;
    w.showAndActivate();
    QTRY_COMPARE(QApplication::focusWidget(), w.addressBox());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint offset = w.form->geometry().center() - screen.center();
    QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1, "window not centred");
    QCOMPARE(w.form->centralWidget()->size(), QSize(402, 203));
    QCOMPARE(w.form->windowState(), Qt::WindowNoState);
}

void StartupTest::resizingMovesNothing()
{
    WindowFixture w;
    w.showAndActivate();
    const QRect list = w.linkList()->geometry();
    const QRect button = w.extractButton()->geometry();
    w.form->resize(800, 600);
    QTRY_COMPARE(w.form->size(), QSize(800, 600));
    QCOMPARE(w.linkList()->geometry(), list);
    QCOMPARE(w.extractButton()->geometry(), button);
    w.form->resize(200, 100);
    QTRY_COMPARE(w.form->size(), QSize(200, 100));
    QCOMPARE(w.linkList()->geometry(), list);
}

void StartupTest::busyIndicatorIsFramelessAndAboveList()
{
    WindowFixture w;
    QLineEdit *text3 = w.busyIndicator();
    QVERIFY(!text3->hasFrame());
    QVERIFY(text3->isReadOnly());
    QCOMPARE(text3->focusPolicy(), Qt::NoFocus);
    const QObjectList siblings = text3->parentWidget()->children();
    QVERIFY(siblings.indexOf(text3) > siblings.indexOf(w.linkList())); // later sibling draws on top
    QVERIFY(w.linkList()->geometry().contains(text3->geometry()));
}

void StartupTest::engineStartsOnceTheEventLoopRuns()
{
    WindowFixture w;
    QCOMPARE(w.browser->starts, 0);
    QTRY_COMPARE(w.browser->starts, 1);
    QCOMPARE(w.browser->objectName(), QStringLiteral("WebBrowser1"));
    QCOMPARE(w.browser->parent(), w.form.get());
    QVERIFY(w.browser->navigations.isEmpty());
}

void StartupTest::programSetUpGivesIconLocaleAndNames()
{
    setUpApplication(*qApp);
    QCOMPARE(QApplication::applicationName(), QStringLiteral("velmora"));
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("velmora"));
    QCOMPARE(QLocale().name(), QStringLiteral("zh_CN"));
    const QList<QSize> sizes = QApplication::windowIcon().availableSizes();
    for (int size : {16, 32, 48, 64})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
    WindowFixture w;
    QCOMPARE(w.form->windowIcon().availableSizes().size(), sizes.size());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
