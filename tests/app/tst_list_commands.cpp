// The commands of the tools and information menus, through the fake platform.
#include "velmora_config.h"
#include "window_fixture.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

namespace {
QStringList strings(std::initializer_list<const char16_t *> items)
{
    QStringList out;
    for (const char16_t *item : items)
        out << QString::fromUtf16(item);
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QString notice = QString::fromUtf16(u"提示");
const QString noticeBlank = QString::fromUtf16(u"提示 ");
} // namespace

class ListCommandsTest : public QObject
{
    Q_OBJECT
private slots:
    void filterAsksWithCurrentTextAndStoresAnswerVerbatim();
    void filterAppliesOnlyToLaterHarvests();
    void duplicatesKeepFirstOfEachIgnoringCase();
    void duplicatesKeepSelectionOnlyOnASurvivor_data();
    void duplicatesKeepSelectionOnlyOnASurvivor();
    void removeRepeatsExactComparisonKeepsCaseVariants();
    void deleteSelectedRemovesOneAndLeavesNoSelection();
    void deleteAllAlwaysAsksAndClearsOnYes();
    void saveDialogIsAskedWithTitleFilterAndAppFolder();
    void saveCancelWritesNothing();
    void saveWritesItemsAsCrLfLinesInGb18030();
    void saveCompletesTxtSuffixCaseSensitively_data();
    void saveCompletesTxtSuffixCaseSensitively();
    void saveAsksBeforeOverwritingTheFinalName();
    void saveFailureReportsOnceAndALaterSaveWorks();
    void aboutBoxShowsTheProductText();
    void homePageOpensFromMenuAndAtClose();
};

void ListCommandsTest::filterAsksWithCurrentTextAndStoresAnswerVerbatim()
{
    WindowFixture w;
    w.platform.inputAnswers = {QStringLiteral("  abc "), QStringLiteral("  abc "), QString()};
    w.action("glsz")->trigger();
    QCOMPARE(w.platform.inputs.size(), 1);
    QCOMPARE(w.platform.inputs.at(0).prompt, QString::fromUtf16(u"设置提取链接里所包含的文字，留空则提取所有链接"));
    QCOMPARE(w.platform.inputs.at(0).title, QString::fromUtf16(u"Ardentis科技-Velmora"));
    QCOMPARE(w.platform.inputs.at(0).defaultText, QString());
    QCOMPARE(w.filterText()->text(), QStringLiteral("  abc ")); // blanks kept

    w.action("glsz")->trigger(); // confirmed unchanged
    QCOMPARE(w.platform.inputs.at(1).defaultText, QStringLiteral("  abc "));
    QCOMPARE(w.filterText()->text(), QStringLiteral("  abc "));

    w.action("glsz")->trigger(); // cancel clears
    QCOMPARE(w.filterText()->text(), QString());
    QVERIFY(w.platform.messages.isEmpty());
    QVERIFY(!w.filterText()->isVisible());
}

void ListCommandsTest::filterAppliesOnlyToLaterHarvests()
{
    WindowFixture w;
    w.linkList()->links()->append({QStringLiteral("http://a.example/x"), QStringLiteral("http://b.example/y")});
    w.platform.inputAnswers = {QStringLiteral("/y")};
    w.action("glsz")->trigger();
    QCOMPARE(w.items().size(), 2);
    w.browser->completeTopLevel({QStringLiteral("http://c.example/x"), QStringLiteral("http://c.example/y"),
                                 QStringLiteral("http://c.example/Y")});
    w.deliver();
    QCOMPARE(w.items().mid(2), QStringList{QStringLiteral("http://c.example/y")});
}

void ListCommandsTest::duplicatesKeepFirstOfEachIgnoringCase()
{
    WindowFixture w;
    w.linkList()->links()->append(
        strings({u"x", u"y", u"x", u"z", u"y", u"Ab/", u"ab/", u"ab", u"AB", u"链接", u"链接"}));
    w.action("glcf")->trigger();
    QCOMPARE(w.items(), strings({u"x", u"y", u"z", u"Ab/", u"ab", u"链接"}));
    w.action("glcf")->trigger(); // a second run changes nothing
    QCOMPARE(w.items(), strings({u"x", u"y", u"z", u"Ab/", u"ab", u"链接"}));

    w.linkList()->links()->clear();
    w.linkList()->links()->append(strings({u"x", u"x", u"x", u"x"}));
    w.action("glcf")->trigger();
    QCOMPARE(w.items(), strings({u"x"}));
}

void ListCommandsTest::duplicatesKeepSelectionOnlyOnASurvivor_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<int>("selectedAfter");
    QTest::newRow("survivor moves up") << QStringList{"a", "A", "b", "B", "c"} << 4 << QStringList{"a", "b", "c"} << 2;
    // One removal goes through the view's own row removal, which would select
    // the next row; several are a reset.
    QTest::newRow("the one removed") << QStringList{"a", "A", "b"} << 1 << QStringList{"a", "b"} << -1;
    QTest::newRow("one of several removed") << QStringList{"a", "A", "b", "B"} << 1 << QStringList{"a", "b"} << -1;
}

void ListCommandsTest::duplicatesKeepSelectionOnlyOnASurvivor()
{
    QFETCH(QStringList, items);
    QFETCH(int, selected);
    QFETCH(QStringList, kept);
    QFETCH(int, selectedAfter);
    WindowFixture w;
    w.linkList()->links()->append(items);
    w.linkList()->setCurrentIndex(w.linkList()->model()->index(selected, 0));
    w.action("glcf")->trigger();
    QCOMPARE(w.items(), kept);
    QCOMPARE(w.linkList()->selectedRow(), selectedAfter);
    // 删除选择 then deletes only what is still selected.
    w.action("scxz")->trigger();
    QCOMPARE(w.items().size(), kept.size() - (selectedAfter >= 0 ? 1 : 0));
}

void ListCommandsTest::removeRepeatsExactComparisonKeepsCaseVariants()
{
    WindowFixture w;
    LinkListModel *links = w.linkList()->links();
    links->append(strings({u"a", u"A", u"a"}));
    w.form->removeRepeatsFrom(*links, remove_dups::Compare::Exact);
    QCOMPARE(w.items(), strings({u"a", u"A"}));
    w.form->removeRepeatsFrom(*links, remove_dups::Compare::IgnoreCase);
    QCOMPARE(w.items(), strings({u"a"}));
}

void ListCommandsTest::deleteSelectedRemovesOneAndLeavesNoSelection()
{
    WindowFixture w;
    w.linkList()->links()->append(strings({u"a", u"b", u"c"}));
    w.action("scxz")->trigger(); // nothing selected: nothing happens
    QCOMPARE(w.items().size(), 3);

    w.linkList()->setCurrentIndex(w.linkList()->model()->index(1, 0));
    w.action("scxz")->trigger();
    QCOMPARE(w.items(), strings({u"a", u"c"}));
    QCOMPARE(w.linkList()->selectedRow(), -1);
    w.action("scxz")->trigger(); // twice in a row removes only one
    QCOMPARE(w.items(), strings({u"a", u"c"}));

    w.linkList()->links()->clear();
    w.linkList()->links()->append(strings({u"only"}));
    w.linkList()->setCurrentIndex(w.linkList()->model()->index(0, 0));
    w.action("scxz")->trigger();
    QVERIFY(w.items().isEmpty());
    QVERIFY(w.platform.messages.isEmpty());
}

void ListCommandsTest::deleteAllAlwaysAsksAndClearsOnYes()
{
    WindowFixture w;
    w.linkList()->links()->append(strings({u"a", u"b"}));
    w.linkList()->setCurrentIndex(w.linkList()->model()->index(0, 0));
    w.platform.messageAnswers = {Platform::No, Platform::Yes, Platform::Yes};
    w.action("scqb")->trigger();
    QCOMPARE(w.items().size(), 2);
    w.action("scqb")->trigger();
    QVERIFY(w.items().isEmpty());
    QCOMPARE(w.linkList()->selectedRow(), -1);
    w.action("scqb")->trigger(); // asked on an empty list too
    QCOMPARE(w.platform.messages.size(), 3);
    for (const FakePlatform::Message &m : w.platform.messages) {
        QCOMPARE(m.text, QString::fromUtf16(u"确认要删除所有吗?  "));
        QCOMPARE(m.style, 68);
        QCOMPARE(m.title, notice);
    }
}

void ListCommandsTest::saveDialogIsAskedWithTitleFilterAndAppFolder()
{
    WindowFixture w;
    w.action("bc")->trigger();
    QCOMPARE(w.platform.saveDialogs.size(), 1);
    QCOMPARE(w.platform.saveDialogs.at(0).title, QString::fromUtf16(u"保存链接列表"));
    QCOMPARE(w.platform.saveDialogs.at(0).filter, QString::fromUtf16(u"文本文件 (*.txt)"));
    QCOMPARE(w.platform.saveDialogs.at(0).initialDir, QCoreApplication::applicationDirPath());
}

void ListCommandsTest::saveCancelWritesNothing()
{
    QTemporaryDir dir;
    WindowFixture w;
    w.linkList()->links()->append(strings({u"a"}));
    w.savePath()->setText(QStringLiteral("left over"));
    w.action("bc")->trigger();
    QCOMPARE(w.savePath()->text(), QString());
    QVERIFY(w.platform.messages.isEmpty());
    QVERIFY(QDir(dir.path()).isEmpty());
    QCOMPARE(w.items(), strings({u"a"}));
}

void ListCommandsTest::saveWritesItemsAsCrLfLinesInGb18030()
{
    QTemporaryDir dir;
    WindowFixture w;
    const QString path = dir.filePath(QStringLiteral("links.txt"));
    w.linkList()->links()->append(
        strings({u"http://a.example/", u"http://例子.测试/链接", u"http://a.example/", u" x 😀 "}));
    w.platform.saveAnswers = {path};
    w.action("bc")->trigger();
    QVERIFY(w.platform.messages.isEmpty());
    QCOMPARE(w.savePath()->text(), QString()); // emptied after a completed save

    const QByteArray bytes = readAll(path);
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.startsWith("http://a.example/\r\nhttp://\xC0\xFD\xD7\xD3.\xB2\xE2\xCA\xD4/\xC1\xB4\xBD\xD3\r\n"));
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes.count("\r\n"), 4);
    QStringDecoder decode("GB18030");
    const QString back = decode(bytes);
    QVERIFY(!decode.hasError());
    QCOMPARE(back, w.items().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));

    // An empty list gives an empty file.
    w.linkList()->links()->clear();
    w.platform.saveAnswers = {path};
    w.platform.messageAnswers = {Platform::Yes};
    w.action("bc")->trigger();
    QCOMPARE(readAll(path), QByteArray());
}

void ListCommandsTest::saveCompletesTxtSuffixCaseSensitively_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << "list"
                                  << "list.txt";
    QTest::newRow("txt") << "list.txt"
                         << "list.txt";
    QTest::newRow("upper TXT") << "list.TXT"
                               << "list.TXT.txt";
    QTest::newRow("mixed Txt") << "list.Txt"
                               << "list.Txt.txt";
    QTest::newRow("other extension") << "list.csv"
                                     << "list.csv.txt";
    QTest::newRow("Chinese name") << QString::fromUtf16(u"链接列表") << QString::fromUtf16(u"链接列表.txt");
    QTest::newRow("blanks kept") << " list "
                                 << " list .txt";
}

void ListCommandsTest::saveCompletesTxtSuffixCaseSensitively()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    QTemporaryDir dir;
    WindowFixture w;
    w.linkList()->links()->append(strings({u"a"}));
    w.platform.saveAnswers = {dir.filePath(chosen)};
    w.action("bc")->trigger();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
    QCOMPARE(readAll(dir.filePath(written)), QByteArray("a\r\n"));
}

void ListCommandsTest::saveAsksBeforeOverwritingTheFinalName()
{
    QTemporaryDir dir;
    WindowFixture w;
    const QString final = dir.filePath(QStringLiteral("list.txt"));
    QVERIFY(writeBytes(final, "old\r\n"));
    w.linkList()->links()->append(strings({u"new"}));

    QString heldDuringQuestion;
    w.platform.onMessage = [&](const FakePlatform::Message &) { heldDuringQuestion = w.savePath()->text(); };
    w.platform.saveAnswers = {dir.filePath(QStringLiteral("list"))}; // completed to list.txt, which exists
    w.platform.messageAnswers = {Platform::No};
    w.action("bc")->trigger();
    QCOMPARE(w.platform.messages.size(), 1);
    QCOMPARE(w.platform.messages.at(0).text, QString::fromUtf16(u"该文件名已经存在，是否覆盖！       "));
    QCOMPARE(w.platform.messages.at(0).style, 68);
    QCOMPARE(w.platform.messages.at(0).title, notice);
    QCOMPARE(heldDuringQuestion, final);
    QCOMPARE(readAll(final), QByteArray("old\r\n"));
    QCOMPARE(w.savePath()->text(), final); // kept after a refusal

    w.platform.saveAnswers = {final};
    w.platform.messageAnswers = {Platform::Yes};
    w.action("bc")->trigger();
    QCOMPARE(readAll(final), QByteArray("new\r\n"));
    QCOMPARE(w.savePath()->text(), QString());

    // A folder of that name is not a file to overwrite: no question.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.txt")));
    w.platform.saveAnswers = {dir.filePath(QStringLiteral("folder.txt"))};
    w.platform.onMessage = {};
    w.action("bc")->trigger();
    QCOMPARE(w.platform.messages.size(), 3);
    QCOMPARE(w.platform.messages.at(2).style, 64);
}

void ListCommandsTest::saveFailureReportsOnceAndALaterSaveWorks()
{
    QTemporaryDir dir;
    WindowFixture w;
    w.linkList()->links()->append(strings({u"a", u"b"}));
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/list.txt"));
    w.platform.saveAnswers = {missing};
    w.action("bc")->trigger();
    QCOMPARE(w.platform.messages.size(), 1);
    const FakePlatform::Message &m = w.platform.messages.at(0);
    const QString suffix = QString::fromUtf16(u"  保存错误！      ");
    QVERIFY2(m.text.endsWith(suffix) && m.text.size() > suffix.size(), qPrintable(m.text));
    QCOMPARE(m.style, 64);
    QCOMPARE(m.title, noticeBlank);
    QCOMPARE(w.savePath()->text(), missing); // kept after an error
    QVERIFY(!QFileInfo::exists(missing));

    const QString good = dir.filePath(QStringLiteral("list.txt"));
    w.platform.saveAnswers = {good};
    w.action("bc")->trigger();
    QCOMPARE(w.platform.messages.size(), 1);
    QCOMPARE(readAll(good), QByteArray("a\r\nb\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("list.txt")});
}

void ListCommandsTest::aboutBoxShowsTheProductText()
{
    WindowFixture w;
    w.action("rjxx")->trigger();
    QCOMPARE(w.platform.messages.size(), 1);
    const FakePlatform::Message &m = w.platform.messages.at(0);
    QCOMPARE(m.style, 64);
    QCOMPARE(m.title, QString::fromUtf16(u"说明 "));
    const QStringList lines = m.text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.at(0),
             QString::fromUtf16(u"Ardentis软件科技〖") + QStringLiteral(VELMORA_VENDOR_HOST)
                 + QString::fromUtf16(u"〗         "));
    QCOMPARE(lines.at(2), QString::fromUtf16(u"联系QQ：") + QStringLiteral(VELMORA_CONTACT_QQ));
    QCOMPARE(lines.at(6), QString::fromUtf16(u"软件版本：V1.1"));
    QVERIFY(lines.at(1).isEmpty() && lines.at(3).isEmpty() && lines.at(5).isEmpty());
}

void ListCommandsTest::homePageOpensFromMenuAndAtClose()
{
    WindowFixture w;
    w.showAndActivate();
    w.action("fwgw")->trigger();
    QCOMPARE(w.platform.openedUrls, QStringList{QStringLiteral("http://" VELMORA_VENDOR_HOST "/")});

    // Closing while a page still loads makes the request and closes anyway.
    w.addressBox()->setText(QStringLiteral("http://example.com/"));
    QTest::keyClick(w.addressBox(), Qt::Key_Return);
    QVERIFY(w.busyIndicator()->isVisible());
    QVERIFY(w.form->close());
    QCOMPARE(w.platform.openedUrls.size(), 2);
    QCOMPARE(w.platform.openedUrls.at(1), QStringLiteral("http://" VELMORA_VENDOR_HOST));
    QVERIFY(!w.form->isVisible());
}

QTEST_MAIN(ListCommandsTest)
#include "tst_list_commands.moc"
