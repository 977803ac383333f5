// Typing an address and starting an extraction; the engine's answers.
#include "window_fixture.h"

#include <QElapsedTimer>
#include <QInputMethodEvent>

namespace {
const QString badPrefix = QString::fromUtf16(u"输入链接格式错误，应“http://”开头！  ");
const QString tooShort = QString::fromUtf16(u"输入链接错误！  ");
const QString title = QString::fromUtf16(u"提示 ");

// A literal with every unit kept, NULs included.
template <std::size_t N>
QString text(const char16_t (&units)[N])
{
    return QString::fromUtf16(units, qsizetype(N - 1));
}

// Types text as a user would: ASCII through key events, the rest through the
// input method, which is how Chinese arrives.
void type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f) {
            QTest::keyClick(edit, c.toLatin1());
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QCoreApplication::sendEvent(edit, &commit);
        }
    }
}
} // namespace

class AddressEntryTest : public QObject
{
    Q_OBJECT
private slots:
    void addressIsTrimmedCheckedAndLoaded_data();
    void addressIsTrimmedCheckedAndLoaded();
    void anyTextIsCheckedAndPassedOnVerbatim_data();
    void anyTextIsCheckedAndPassedOnVerbatim();
    void trimmedTextIsWrittenBackBeforeTheMessage();
    void enterWithAnyModifiersExtracts_data();
    void enterWithAnyModifiersExtracts();
    void otherKeysAndEnterElsewhereDoNothing();
    void buttonClickExtracts();
    void secondRequestWhileBusyIsPassedOn();
    void harvestAppendsTopLevelAnchorsThroughTheFilter();
    void engineFailureHidesBusyAndExplains();
};

void AddressEntryTest::addressIsTrimmedCheckedAndLoaded_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");   // Text1 afterwards
    QTest::addColumn<QString>("message"); // empty: none
    QTest::addColumn<bool>("navigates");

    QTest::newRow("empty") << ""
                           << "" << badPrefix << false;
    QTest::newRow("blanks only") << "    "
                                 << "" << badPrefix << false;
    QTest::newRow("ideographic blanks only") << QString::fromUtf16(u"\u3000 \u3000") << "" << badPrefix << false;
    QTest::newRow("upper-case scheme") << "HTTP://example.com"
                                       << "HTTP://example.com" << badPrefix << false;
    QTest::newRow("mixed-case scheme") << "Http://example.com"
                                       << "Http://example.com" << badPrefix << false;
    QTest::newRow("secure scheme") << "https://example.com"
                                   << "https://example.com" << badPrefix << false;
    QTest::newRow("shorter than prefix") << "http:/"
                                         << "http:/" << badPrefix << false;
    QTest::newRow("leading tab kept") << "\thttp://example.com"
                                      << "\thttp://example.com" << badPrefix << false;
    QTest::newRow("12 characters") << "http://a.bcd"
                                   << "http://a.bcd" << tooShort << false;
    QTest::newRow("13 characters") << "http://a.bcde"
                                   << "http://a.bcde" << QString() << true;
    QTest::newRow("12 after trimming") << "  http://a.bcd  "
                                       << "http://a.bcd" << tooShort << false;
    QTest::newRow("blanks around") << "  http://example.com/x  "
                                   << "http://example.com/x" << QString() << true;
    QTest::newRow("ideographic blanks around")
        << QString::fromUtf16(u"\u3000http://example.com\u3000") << "http://example.com" << QString() << true;
    QTest::newRow("trailing tab kept") << "http://example.com\t"
                                       << "http://example.com\t" << QString() << true;
    QTest::newRow("Chinese counts one each, 12")
        << QString::fromUtf16(u"http://例子.测试") << QString::fromUtf16(u"http://例子.测试") << tooShort << false;
    QTest::newRow("Chinese counts one each, 13")
        << QString::fromUtf16(u"http://例子.测试网") << QString::fromUtf16(u"http://例子.测试网") << QString() << true;
}

void AddressEntryTest::addressIsTrimmedCheckedAndLoaded()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, message);
    QFETCH(bool, navigates);

    WindowFixture w;
    w.showAndActivate();
    w.addressBox()->setText(typed);
    QTest::keyClick(w.addressBox(), Qt::Key_Return);

    QCOMPARE(w.addressBox()->text(), shown);
    if (message.isEmpty()) {
        QVERIFY(w.platform.messages.isEmpty());
    } else {
        QCOMPARE(w.platform.messages.size(), 1);
        QCOMPARE(w.platform.messages.first().text, message);
        QCOMPARE(w.platform.messages.first().style, 48);
        QCOMPARE(w.platform.messages.first().title, title);
    }
    QCOMPARE(w.browser->navigations, navigates ? QStringList{shown} : QStringList{});
    QCOMPARE(w.busyIndicator()->isVisible(), navigates);
}

void AddressEntryTest::anyTextIsCheckedAndPassedOnVerbatim_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("trimmed"); // Text1 afterwards, and what is loaded if anything
    QTest::addColumn<QString>("message"); // empty: loaded

    const QString megabyte(qsizetype(1024) * 1024, QLatin1Char('x'));
    const QString http = QStringLiteral("http://");
    const QString blanks = QString(qsizetype(512) * 1024, QChar(0x20)) + QString(qsizetype(512) * 1024, QChar(0x3000));
    const QString emoji = text(u"\U0001F600"); // two UTF-16 units

    QTest::newRow("1 MB without scheme") << megabyte << megabyte << badPrefix;
    QTest::newRow("1 MB address") << http + megabyte << http + megabyte << QString();
    // Longer than Chromium loads: said at once, in the box's own words.
    QTest::newRow("10 MB address") << http + megabyte.repeated(10) << http + megabyte.repeated(10) << tooShort;
    QTest::newRow("1 MB of blanks around")
        << blanks + http + QStringLiteral("a.example/") + blanks << http + QStringLiteral("a.example/") << QString();
    QTest::newRow("1 MB of blanks alone") << blanks << QString() << badPrefix;
    QTest::newRow("NUL inside") << text(u"http://a.example/\0b") << text(u"http://a.example/\0b") << QString();
    QTest::newRow("NUL first") << text(u"\0http://a.example/") << text(u"\0http://a.example/") << badPrefix;
    QTest::newRow("NULs make up the length")
        << text(u"http://\0\0\0\0\0\0") << text(u"http://\0\0\0\0\0\0") << QString();
    QTest::newRow("control characters inside")
        << text(u"http://a\x01b\x1f.example/\x7f\t\r\n") << text(u"http://a\x01b\x1f.example/\x7f\t\r\n") << QString();
    QTest::newRow("line break before the scheme")
        << text(u"\nhttp://a.example/") << text(u"\nhttp://a.example/") << badPrefix;
    QTest::newRow("right-to-left override inside")
        << text(u"http://a.example/\u202Egnp.exe") << text(u"http://a.example/\u202Egnp.exe") << QString();
    QTest::newRow("right-to-left mark before the scheme")
        << text(u"\u200Fhttp://a.example/") << text(u"\u200Fhttp://a.example/") << badPrefix;
    QTest::newRow("no-break spaces are not blanks")
        << text(u"\u00A0http://a.example/") << text(u"\u00A0http://a.example/") << badPrefix;
    QTest::newRow("emoji count two units, 13")
        << http + emoji + emoji + emoji << http + emoji + emoji + emoji << QString();
    QTest::newRow("emoji count two units, 12")
        << http + emoji + emoji + QLatin1Char('a') << http + emoji + emoji + QLatin1Char('a') << tooShort;
    QTest::newRow("lone surrogate") << text(u"http://a.example/") + QChar(0xD800)
                                    << text(u"http://a.example/") + QChar(0xD800) << QString();
}

void AddressEntryTest::anyTextIsCheckedAndPassedOnVerbatim()
{
    QFETCH(QString, typed);
    QFETCH(QString, trimmed);
    QFETCH(QString, message);

    WindowFixture w;
    w.showAndActivate();
    w.addressBox()->setText(typed);
    QVERIFY(w.addressBox()->text() == typed); // the box keeps every character, whatever the length
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));

    // Compared without QCOMPARE, which would print a megabyte on failure.
    QVERIFY2(w.addressBox()->text() == trimmed,
             qPrintable(QStringLiteral("%1 units").arg(w.addressBox()->text().size())));
    if (message.isEmpty()) {
        QVERIFY(w.platform.messages.isEmpty());
        QCOMPARE(w.browser->navigations.size(), 1);
        QVERIFY2(w.browser->navigations.constFirst() == trimmed,
                 qPrintable(QStringLiteral("%1 units").arg(w.browser->navigations.constFirst().size())));
        QVERIFY(w.busyIndicator()->isVisible());
    } else {
        QVERIFY(w.browser->navigations.isEmpty());
        QCOMPARE(w.platform.messages.size(), 1);
        QCOMPARE(w.platform.messages.constFirst().text, message);
        QCOMPARE(w.platform.messages.constFirst().style, 48);
        QVERIFY(!w.busyIndicator()->isVisible());
    }
}

void AddressEntryTest::trimmedTextIsWrittenBackBeforeTheMessage()
{
    WindowFixture w;
    w.showAndActivate();
    type(w.addressBox(), QString::fromUtf16(u"  ftp://例子.测试  "));
    QCOMPARE(w.addressBox()->text(), QString::fromUtf16(u"  ftp://例子.测试  "));
    QString shownDuringMessage;
    w.platform.onMessage = [&](const FakePlatform::Message &) { shownDuringMessage = w.addressBox()->text(); };
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    QCOMPARE(shownDuringMessage, QString::fromUtf16(u"ftp://例子.测试"));
}

void AddressEntryTest::enterWithAnyModifiersExtracts_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("Shift+Enter") << int(Qt::Key_Return) << int(Qt::ShiftModifier);
    QTest::newRow("Ctrl+Enter") << int(Qt::Key_Return) << int(Qt::ControlModifier);
    QTest::newRow("Alt+Enter") << int(Qt::Key_Return) << int(Qt::AltModifier);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
}

void AddressEntryTest::enterWithAnyModifiersExtracts()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    WindowFixture w;
    w.showAndActivate();
    type(w.addressBox(), QStringLiteral("http://example.com/"));
    QTest::keyClick(w.addressBox(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(w.browser->navigations, QStringList{QStringLiteral("http://example.com/")});
    QVERIFY(w.busyIndicator()->isVisible());
}

void AddressEntryTest::otherKeysAndEnterElsewhereDoNothing()
{
    WindowFixture w;
    w.showAndActivate();
    w.linkList()->links()->append({QStringLiteral("http://listed.example/")});
    w.addressBox()->setText(QStringLiteral("http://example.com/"));
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Escape, Qt::Key_F5})
        QTest::keyClick(w.addressBox(), key);
    w.linkList()->setFocus();
    QTest::keyClick(w.linkList(), Qt::Key_Down);
    QTest::keyClick(w.linkList(), Qt::Key_Return);
    w.extractButton()->setFocus();
    QTest::keyClick(w.extractButton(), Qt::Key_Return);
    QVERIFY(w.browser->navigations.isEmpty());
    QVERIFY(w.platform.messages.isEmpty());
    QVERIFY(!w.busyIndicator()->isVisible());
}

void AddressEntryTest::buttonClickExtracts()
{
    WindowFixture w;
    w.showAndActivate();
    w.addressBox()->setText(QStringLiteral(" http://example.com/page "));
    QTest::mouseClick(w.extractButton(), Qt::LeftButton);
    QCOMPARE(w.browser->navigations, QStringList{QStringLiteral("http://example.com/page")});
    QCOMPARE(w.addressBox()->text(), QStringLiteral("http://example.com/page"));
}

void AddressEntryTest::secondRequestWhileBusyIsPassedOn()
{
    WindowFixture w;
    w.showAndActivate();
    w.linkList()->links()->append({QStringLiteral("http://kept.example/")});
    w.addressBox()->setText(QStringLiteral("http://one.example/"));
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    w.addressBox()->setText(QStringLiteral("http://two.example/"));
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    QCOMPARE(w.browser->navigations,
             QStringList({QStringLiteral("http://one.example/"), QStringLiteral("http://two.example/")}));
    QVERIFY(w.busyIndicator()->isVisible());
    QCOMPARE(w.items(), QStringList{QStringLiteral("http://kept.example/")}); // not cleared
}

void AddressEntryTest::harvestAppendsTopLevelAnchorsThroughTheFilter()
{
    WindowFixture w;
    w.showAndActivate();
    w.linkList()->links()->append({QStringLiteral("http://earlier.example/")});
    w.addressBox()->setText(QStringLiteral("http://example.com/"));
    QTest::keyClick(w.addressBox(), Qt::Key_Return);

    // A frame's completion changes nothing, not even the busy indicator.
    w.browser->completeFrame({QStringLiteral("http://frame.example/abc")});
    w.deliver();
    QVERIFY(w.busyIndicator()->isVisible());
    QCOMPARE(w.items().size(), 1);

    w.filterText()->setText(QStringLiteral("abc"));
    w.browser->completeTopLevel({QStringLiteral("http://x.example/abc"), QString(),
                                 QStringLiteral("http://x.example/ABC"), QStringLiteral("mailto:abc@x.example"),
                                 QStringLiteral("http://x.example/abc")});
    w.deliver();
    QVERIFY(!w.busyIndicator()->isVisible());
    QCOMPARE(w.items(),
             QStringList({QStringLiteral("http://earlier.example/"), QStringLiteral("http://x.example/abc"),
                          QStringLiteral("mailto:abc@x.example"), QStringLiteral("http://x.example/abc")}));

    // A notice about the page is shown once its links are in the list.
    QStringList listedAtNotice;
    w.platform.onMessage = [&](const FakePlatform::Message &) { listedAtNotice = w.items(); };
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    const QString cut = QString::fromUtf16(u"网页的链接超过了上限，其余的已略去。");
    w.browser->notice(engine::PageNotice::LinksCut, cut);
    w.browser->completeTopLevel({QStringLiteral("http://x.example/abc/before-the-bound")});
    QTRY_COMPARE(w.platform.messages.size(), 1);
    QCOMPARE(w.platform.messages.first().text, cut);
    QCOMPARE(w.platform.messages.first().style, 48);
    QCOMPARE(w.platform.messages.first().title, title);
    QCOMPARE(listedAtNotice.size(), 5);
    QCOMPARE(listedAtNotice.constLast(), QStringLiteral("http://x.example/abc/before-the-bound"));

    // A page without anchors still ends the wait, and one read at its
    // deadline just ends it: no box.
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    w.browser->notice(engine::PageNotice::ReadAtDeadline, QStringLiteral("read at the deadline"));
    w.browser->completeTopLevel({});
    w.deliver();
    w.deliver(); // a box waits one turn behind the links
    QVERIFY(!w.busyIndicator()->isVisible());
    QCOMPARE(w.items().size(), 5);
    QCOMPARE(w.platform.messages.size(), 1);
}

void AddressEntryTest::engineFailureHidesBusyAndExplains()
{
    WindowFixture w;
    w.showAndActivate();
    w.addressBox()->setText(QStringLiteral("http://127.0.0.1:9/"));
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    QVERIFY(w.busyIndicator()->isVisible());
    const QString reason = QString::fromUtf16(u"无法打开网页：连接被拒绝。");
    emit w.browser->navigateError(QStringLiteral("http://127.0.0.1:9/"), reason);
    w.deliver();
    QVERIFY(!w.busyIndicator()->isVisible());
    QCOMPARE(w.platform.messages.size(), 1);
    QCOMPARE(w.platform.messages.first().text, reason);
    QCOMPARE(w.platform.messages.first().style, 48);
    QCOMPARE(w.platform.messages.first().title, title);

    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    emit w.browser->engineError(QStringLiteral("engine gone"));
    w.deliver();
    QVERIFY(!w.busyIndicator()->isVisible());
    QCOMPARE(w.platform.messages.size(), 2);
    QCOMPARE(w.browser->navigations.size(), 2);
}

QTEST_MAIN(AddressEntryTest)
#include "tst_address_entry.moc"
