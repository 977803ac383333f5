// The real window on the real engine: pages from a local server, Qt's real
// dialogs answered as a user would answer them.
#include "app/link_list.h"
#include "app/localization.h"
#include "app/main_window.h"
#include "app/platform.h"
#include "engine/chromium_browser.h"
#include "engine_window.h"
#include "modal_driver.h"
#include "page_server.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace engine;

class EndToEndTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void typedAddressAndEnterFillTheList();
    void filterDedupeDeleteAndSaveThroughTheMenus();

private:
    void extract(const QString &url, int expectedCount);
    QStringList items() const { return list()->links()->items(); }
    LinkListView *list() const { return window->list(); }
    QLineEdit *edit(const char *name) const { return window->edit(name); }
    void trigger(const char *name) { window->form().findChild<QAction *>(QLatin1String(name))->trigger(); }

    PageServer server;
    QtPlatform platform;
    std::unique_ptr<EngineWindow> window;
};

void EndToEndTest::initTestCase()
{
    QVERIFY(useChineseLocale(*qApp));
    QVERIFY(server.listen());
    server.route(QStringLiteral("/dir/links.html"), QByteArray(R"(<!doctype html><title>t</title>
<a href="page?x=1">relative</a>
<a href="/Upper/">case one</a>
<a href="/upper/">case two</a>
<a>no address</a>
<a href="mailto:someone@example.com">mail</a>
<a href="page?x=1">again</a>
<script>
alert('hello');
document.body.insertAdjacentHTML('beforeend', '<a href="/scripted">after an alert</a>');
fetch('/dir/late').then(function (r) { return r.text(); }).then(function (html) {
  document.body.insertAdjacentHTML('beforeend', html);
});
</script>)"));
    // Answered well after the page's load event: its link is listed all the same.
    PageServer::Response late;
    late.body = R"(<a href="/late">from a request</a>)";
    late.delayMs = 500;
    server.route(QStringLiteral("/dir/late"), late);
}

void EndToEndTest::init()
{
    window = std::make_unique<EngineWindow>(new ChromiumBrowser, &platform);
    QString error;
    QVERIFY2(window->show(&error), qPrintable(error));
}

void EndToEndTest::cleanup()
{
    window.reset();
}

void EndToEndTest::extract(const QString &url, int expectedCount)
{
    QLineEdit *text1 = edit("Text1");
    text1->setFocus();
    text1->selectAll();
    QTest::keyClicks(text1, url);
    QTest::keyClick(text1, Qt::Key_Return);
    QVERIFY(edit("Text3")->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(items().size(), expectedCount, 60000);
    QTRY_VERIFY(!edit("Text3")->isVisible());
}

void EndToEndTest::typedAddressAndEnterFillTheList()
{
    const QString url = server.url(QStringLiteral("/dir/links.html"));
    extract(url, 7);
    const QString base = server.url(QString());
    QCOMPARE(items(),
             QStringList({base + QStringLiteral("/dir/page?x=1"), base + QStringLiteral("/Upper/"),
                          base + QStringLiteral("/upper/"), QStringLiteral("mailto:someone@example.com"),
                          base + QStringLiteral("/dir/page?x=1"), base + QStringLiteral("/scripted"),
                          base + QStringLiteral("/late")}));
    QCOMPARE(edit("Text1")->text(), url);
}

void EndToEndTest::filterDedupeDeleteAndSaveThroughTheMenus()
{
    const QString url = server.url(QStringLiteral("/dir/links.html"));
    const QString base = server.url(QString());

    // A filter of the server's host keeps all but the mail address.
    whenModal<QInputDialog>([](QInputDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), QString::fromUtf16(u"Ardentis科技-Velmora"));
        dialog->setTextValue(QStringLiteral("127.0.0.1"));
        dialog->accept();
    });
    trigger("glsz");
    extract(url, 6); // the mailto: address does not contain the filter
    QVERIFY(!items().contains(QStringLiteral("mailto:someone@example.com")));

    trigger("glcf"); // /upper/ and the second page?x=1 go
    QCOMPARE(items(),
             QStringList({base + QStringLiteral("/dir/page?x=1"), base + QStringLiteral("/Upper/"),
                          base + QStringLiteral("/scripted"), base + QStringLiteral("/late")}));

    LinkListView *view = list();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
    QCOMPARE(edit("Text1")->text(), base + QStringLiteral("/Upper/"));
    trigger("scxz");
    QCOMPARE(items().size(), 3);

    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromUtf16(u"链接"));
    QFile old(path + QStringLiteral(".txt"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old\r\n") == 5);
    old.close();
    whenModal<QFileDialog>([path](QFileDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), QString::fromUtf16(u"保存链接列表"));
        QCOMPARE(dialog->nameFilters(), QStringList{QString::fromUtf16(u"文本文件 (*.txt)")});
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept(); // as the Save button does
    });
    whenModal<QMessageBox>([](QMessageBox *box) {
        QCOMPARE(box->text(), QString::fromUtf16(u"该文件名已经存在，是否覆盖！       "));
        QCOMPARE(box->button(QMessageBox::Yes)->text().left(1), QString::fromUtf16(u"是"));
        box->button(QMessageBox::Yes)->click();
    });
    trigger("bc");
    QFile saved(path + QStringLiteral(".txt"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(),
             (base + QStringLiteral("/dir/page?x=1\r\n") + base + QStringLiteral("/scripted\r\n") + base
              + QStringLiteral("/late\r\n"))
                 .toLatin1());
    QCOMPARE(edit("Text2")->text(), QString());
}

QTEST_MAIN(EndToEndTest)
#include "tst_end_to_end.moc"
