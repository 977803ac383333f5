// Presses and releases on the link list, and its popup menu.
#include "window_fixture.h"

#include <QApplication>
#include <QTimer>

namespace {
QPoint itemCentre(LinkListView *list, int row)
{
    return list->visualRect(list->model()->index(row, 0)).center();
}

// Runs inside the popup's own event loop: records where it opened, then
// chooses an item by clicking it, or dismisses the menu with Escape.
struct PopupDriver
{
    QPoint openedAt;
    QString opened;
    void schedule(const char *choose = nullptr)
    {
        QTimer::singleShot(0, [this, choose] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            opened = menu->objectName();
            openedAt = menu->pos();
            if (!choose) {
                QTest::keyClick(menu, Qt::Key_Escape);
                return;
            }
            for (QAction *action : menu->actions())
                if (action->objectName() == QLatin1String(choose))
                    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        });
    }
};
} // namespace

class ListPointerTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void leftClickCopiesItemIntoAddressBox();
    void pressOnEmptyListChangesNothingAndOpensNoMenu();
    void pressBelowLastItemEmptiesAddressBox();
    void rightClickSelectsItemUnderPointerAndOpensMenuThere();
    void rightClickAfterDeletionFillsFromItemUnderPointer();
    void popupCommandWorksOnTheItemRightClicked();
    void leftReleaseNeverOpensMenu();
    void longItemsAreShownInPartButCopiedWhole();

private:
    std::unique_ptr<WindowFixture> w;
    QWidget *viewport() const { return w->linkList()->viewport(); }
};

void ListPointerTest::init()
{
    w = std::make_unique<WindowFixture>();
    w->showAndActivate();
}

void ListPointerTest::leftClickCopiesItemIntoAddressBox()
{
    w->linkList()->links()->append({QStringLiteral("http://a.example/"), QStringLiteral("http://b.example/")});
    w->addressBox()->setText(QStringLiteral("typed"));
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 1));
    QCOMPARE(w->addressBox()->text(), QStringLiteral("http://b.example/"));
    QCOMPARE(w->linkList()->selectedRow(), 1);
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    QCOMPARE(w->addressBox()->text(), QStringLiteral("http://a.example/"));
}

void ListPointerTest::pressOnEmptyListChangesNothingAndOpensNoMenu()
{
    w->addressBox()->setText(QStringLiteral("typed"));
    PopupDriver popup;
    popup.schedule();
    QTest::mouseClick(viewport(), Qt::RightButton, {}, QPoint(20, 10));
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    QCoreApplication::processEvents();
    QCOMPARE(w->addressBox()->text(), QStringLiteral("typed"));
    QVERIFY(popup.opened.isEmpty());
}

void ListPointerTest::pressBelowLastItemEmptiesAddressBox()
{
    w->linkList()->links()->append({QStringLiteral("http://a.example/")});
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    QCOMPARE(w->addressBox()->text(), QStringLiteral("http://a.example/"));
    // Below the last item nothing is selected, so the box is emptied rather
    // than refilled from the item that merely keeps the focus frame.
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(20, viewport()->height() - 5));
    QCOMPARE(w->linkList()->selectedRow(), -1);
    QCOMPARE(w->addressBox()->text(), QString());
}

void ListPointerTest::rightClickSelectsItemUnderPointerAndOpensMenuThere()
{
    w->linkList()->links()->append({QStringLiteral("http://a.example/"), QStringLiteral("http://b.example/"),
                                    QStringLiteral("http://c.example/")});
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    PopupDriver popup;
    popup.schedule();
    const QPoint at = itemCentre(w->linkList(), 2);
    QTest::mouseClick(viewport(), Qt::RightButton, {}, at);
    QCOMPARE(popup.opened, QStringLiteral("gj"));
    QCOMPARE(popup.openedAt, viewport()->mapToGlobal(at));
    QCOMPARE(w->linkList()->selectedRow(), 2);
    QCOMPARE(w->addressBox()->text(), QStringLiteral("http://c.example/"));
}

void ListPointerTest::rightClickAfterDeletionFillsFromItemUnderPointer()
{
    w->linkList()->links()->append({QStringLiteral("http://a.example/"), QStringLiteral("http://b.example/"),
                                    QStringLiteral("http://c.example/")});
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    w->action("scxz")->trigger();
    QCOMPARE(w->linkList()->selectedRow(), -1);
    PopupDriver popup;
    popup.schedule();
    QTest::mouseClick(viewport(), Qt::RightButton, {}, itemCentre(w->linkList(), 1));
    QCOMPARE(w->addressBox()->text(), QStringLiteral("http://c.example/"));
    QCOMPARE(popup.opened, QStringLiteral("gj"));
}

void ListPointerTest::popupCommandWorksOnTheItemRightClicked()
{
    w->linkList()->links()->append({QStringLiteral("http://a.example/"), QStringLiteral("http://b.example/"),
                                    QStringLiteral("http://c.example/")});
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    PopupDriver popup;
    popup.schedule("scxz");
    QTest::mouseClick(viewport(), Qt::RightButton, {}, itemCentre(w->linkList(), 1));
    QTRY_COMPARE(w->items(), QStringList({QStringLiteral("http://a.example/"), QStringLiteral("http://c.example/")}));
    QVERIFY(!QApplication::activePopupWidget());
}

void ListPointerTest::leftReleaseNeverOpensMenu()
{
    w->linkList()->links()->append({QStringLiteral("http://a.example/")});
    PopupDriver popup;
    popup.schedule();
    QTest::mousePress(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    QCoreApplication::processEvents();
    QVERIFY(popup.opened.isEmpty());
    QCOMPARE(w->addressBox()->text(), QStringLiteral("http://a.example/"));
}

QTEST_MAIN(ListPointerTest)
void ListPointerTest::longItemsAreShownInPartButCopiedWhole()
{
    const QString huge = QStringLiteral("http://a.example/") + QString(qsizetype(100) * 1024, QLatin1Char('h'));
    // Emoji shifted by one unit each time: wherever the list cuts, one of
    // the three puts a surrogate pair across the cut.
    QStringList shifted;
    for (const QString &pad : {QString(), QStringLiteral("y"), QStringLiteral("yy")}) {
        QString item = QStringLiteral("http://b.example/") + pad;
        while (item.size() < 8192)
            item += QString::fromUtf16(u"\U0001F600x");
        shifted.append(item);
    }
    const QString shortOne = QStringLiteral("http://c.example/");
    w->linkList()->links()->append(QStringList{huge} + shifted + QStringList{shortOne});

    const QAbstractItemModel *model = w->linkList()->model();
    for (int row = 0; row < 4; ++row) {
        const QString item = w->linkList()->links()->item(row);
        for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
            const QString shown = model->data(model->index(row, 0), role).toString();
            // Wider than any screen, far shorter than the item, and its start.
            QVERIFY2(shown.size() >= 1000 && shown.size() <= 4096, qPrintable(QString::number(shown.size())));
            QVERIFY(item.startsWith(shown));
            QVERIFY(!shown.back().isHighSurrogate());
        }
    }
    QCOMPARE(model->data(model->index(4, 0)).toString(), shortOne);

    // The item itself is whole: a click copies all of it.
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, itemCentre(w->linkList(), 0));
    QVERIFY(w->addressBox()->text() == huge);
    QVERIFY(w->items().constFirst() == huge);
}

#include "tst_list_pointer.moc"
