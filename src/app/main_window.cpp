#include "app/main_window.h"

#include "app/link_list.h"
#include "app/platform.h"
#include "app/texts.h"
#include "core/address.h"
#include "core/harvest.h"
#include "core/product.h"
#include "core/remove_dups.h"
#include "core/save_file.h"
#include "engine/browser.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

// Positions are kept in twips, 15 to the pixel at 96 dpi; Qt scales pixels
// for other densities.
QRect twips(int left, int top, int width, int height)
{
    auto px = [](int t) { return qRound(t / 15.0); };
    return {px(left), px(top), px(width), px(height)};
}

constexpr QSize clientSize{402, 203};

QFont songti()
{
    // 宋体 10.5 pt. SimSun is rarely present off Windows; fall back to the
    // Song-style and then the sans CJK faces the install brings.
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QString::fromUtf16(u"宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSizeF(10.5);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QAction *addItem(QMenu *menu, const char *name, const QString &caption)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

QAction *addSeparator(QMenu *menu, const char *name)
{
    QAction *action = menu->addSeparator();
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

MainWindow::MainWindow(engine::Browser *pageEngine, Platform &platform, QWidget *parent)
    : QMainWindow(parent), m_platform(platform), browser(pageEngine)
{
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    buildMenus();

    browser->setParent(this);
    browser->setObjectName(QStringLiteral("WebBrowser1"));
    // Queued: the handlers open modal boxes, which must not run inside the
    // engine's own processing of its messages.
    connect(browser, &engine::Browser::documentComplete, this, &MainWindow::onDocumentComplete, Qt::QueuedConnection);
    connect(
        browser, &engine::Browser::navigateError, this,
        [this](const QString &, const QString &reason) { onBrowserFailed(reason); }, Qt::QueuedConnection);
    connect(browser, &engine::Browser::engineError, this, &MainWindow::onBrowserFailed, Qt::QueuedConnection);
    connect(browser, &engine::Browser::pageNotice, this, &MainWindow::onPageNotice, Qt::QueuedConnection);

    onLoad();
    placeCentred();
    addressBox->setFocus();

    // The engine starts once the event loop runs, so the window shows first.
    QTimer::singleShot(0, browser, &engine::Browser::start);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    const QFont song = songti();

    // Created in tab order; every control keeps its place whatever the
    // window's size.
    addressBox = new QLineEdit(texts::initialAddress(), client);
    addressBox->setObjectName(QStringLiteral("Text1"));
    addressBox->setGeometry(twips(1200, 120, 3975, 350));
    addressBox->setFont(song);
    addressBox->setMaxLength(std::numeric_limits<int>::max());
    addressBox->installEventFilter(this);

    addressLabel = new QLabel(texts::addressLabel(), client);
    addressLabel->setObjectName(QStringLiteral("Label1"));
    addressLabel->setGeometry(twips(120, 240, 1095, 255));
    addressLabel->setFont(song);
    addressLabel->setTextFormat(Qt::PlainText);

    linkList = new LinkListView(client);
    linkList->setObjectName(QStringLiteral("List1"));
    linkList->setGeometry(twips(0, 600, 6015, 2400));
    connect(linkList, &LinkListView::mouseDown, this,
            [this](Qt::MouseButton button, const QPoint &) { onListPress(button); });
    connect(linkList, &LinkListView::mouseUp, this, &MainWindow::onListRelease);

    extractButton = new QPushButton(texts::extractButton(), client);
    extractButton->setObjectName(QStringLiteral("Command1"));
    extractButton->setGeometry(twips(5280, 120, 735, 375));
    extractButton->setAutoDefault(false);
    connect(extractButton, &QPushButton::clicked, this, &MainWindow::extract);

    // Holds the path of a save while it runs.
    savePath = new QLineEdit(client);
    savePath->setObjectName(QStringLiteral("Text2"));
    savePath->setGeometry(twips(5400, 240, 105, 270));
    savePath->setMaxLength(std::numeric_limits<int>::max());
    savePath->hide();

    // The busy indicator: a borderless box drawn over the middle of the list.
    busyIndicator = new QLineEdit(texts::busy(), client);
    busyIndicator->setObjectName(QStringLiteral("Text3"));
    busyIndicator->setGeometry(twips(2400, 1560, 1335, 255));
    busyIndicator->setFont(song);
    busyIndicator->setFrame(false);
    busyIndicator->setReadOnly(true);
    busyIndicator->setFocusPolicy(Qt::NoFocus);
    busyIndicator->hide();
    busyIndicator->raise();

    // Holds the filter text; never shown.
    filterText = new QLabel(client);
    filterText->setObjectName(QStringLiteral("Label2"));
    filterText->setGeometry(twips(0, 3120, 2175, 255));
    filterText->setTextFormat(Qt::PlainText);
    filterText->hide();

    setTabOrder(addressBox, linkList);
    setTabOrder(linkList, extractButton);
    setTabOrder(extractButton, savePath);
}

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();

    toolsMenu = bar->addMenu(texts::toolsMenu());
    toolsMenu->setObjectName(QStringLiteral("gj"));
    filterAction = addItem(toolsMenu, "glsz", texts::filterSettings());
    toolsSeparator1 = addSeparator(toolsMenu, "gg");
    saveAction = addItem(toolsMenu, "bc", texts::saveList());
    toolsSeparator2 = addSeparator(toolsMenu, "g0");
    removeRepeatsAction = addItem(toolsMenu, "glcf", texts::removeRepeats());
    toolsSeparator3 = addSeparator(toolsMenu, "g1");
    deleteSelectedAction = addItem(toolsMenu, "scxz", texts::deleteSelected());
    deleteAllAction = addItem(toolsMenu, "scqb", texts::deleteAll());

    aboutMenu = bar->addMenu(texts::aboutMenu());
    aboutMenu->setObjectName(QStringLiteral("xx"));
    aboutAction = addItem(aboutMenu, "rjxx", texts::aboutProgram());
    websiteAction = addItem(aboutMenu, "fwgw", texts::visitWebsite());

    connect(filterAction, &QAction::triggered, this, &MainWindow::setFilter);
    connect(saveAction, &QAction::triggered, this, &MainWindow::saveLinks);
    connect(removeRepeatsAction, &QAction::triggered, this, &MainWindow::removeRepeats);
    connect(deleteSelectedAction, &QAction::triggered, this, &MainWindow::deleteSelected);
    connect(deleteAllAction, &QAction::triggered, this, &MainWindow::deleteAll);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::showAbout);
    connect(websiteAction, &QAction::triggered, this, &MainWindow::openWebsite);
}

void MainWindow::placeCentred()
{
    resize(clientSize.width(), clientSize.height() + menuBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
}

void MainWindow::onLoad()
{
    setWindowTitle(product::composeCaption());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    onClose();
    event->accept();
}

void MainWindow::onClose()
{
    m_platform.openUrl(product::homePageUrl(false));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == addressBox && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        onAddressKey(key->key(), key->modifiers());
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onAddressKey(int key, Qt::KeyboardModifiers modifiers)
{
    Q_UNUSED(modifiers); // Enter with any modifiers extracts.
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        extract();
}

void MainWindow::extract()
{
    const QString trimmed = address::trimBlanks(addressBox->text());
    addressBox->setText(trimmed);
    const address::Verdict verdict = address::check(trimmed);
    if (verdict != address::Verdict::Ok) {
        m_platform.messageBox(this, address::message(verdict), texts::styleWarningOk, texts::noticeBlank());
        return;
    }
    // Shown before the request so that an engine that fails at once can hide
    // it again; nothing is painted in between.
    busyIndicator->show();
    browser->navigate(trimmed);
}

void MainWindow::onDocumentComplete(bool topLevel, const QString &url, const QStringList &links)
{
    Q_UNUSED(url);
    if (!topLevel)
        return;
    busyIndicator->hide();
    linkList->links()->append(harvest::keptAnchors(links, filterText->text()));
}

void MainWindow::onPageNotice(const QString &url, engine::PageNotice kind, const QString &message)
{
    Q_UNUSED(url);
    // A page read at its deadline simply ends its wait: the list shows what it had.
    if (kind == engine::PageNotice::ReadAtDeadline)
        return;
    // The read a notice comes just before is already queued behind it: the
    // box waits for its links to be in the list.
    QMetaObject::invokeMethod(
        this, [this, message] { m_platform.messageBox(this, message, texts::styleWarningOk, texts::noticeBlank()); },
        Qt::QueuedConnection);
}

void MainWindow::onBrowserFailed(const QString &reason)
{
    busyIndicator->hide();
    m_platform.messageBox(this, reason, texts::styleWarningOk, texts::noticeBlank());
}

void MainWindow::onListPress(Qt::MouseButton button)
{
    Q_UNUSED(button); // Every button copies; the view has already selected.
    const LinkListModel *model = linkList->links();
    if (model->count() > 0)
        addressBox->setText(model->item(linkList->selectedRow()));
}

void MainWindow::onListRelease(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button != Qt::RightButton || linkList->links()->count() == 0)
        return;
    toolsMenu->exec(globalPos);
}

void MainWindow::setFilter()
{
    const QString current = filterText->text();
    filterText->setText(m_platform.inputBox(this, texts::filterPrompt(), texts::filterTitle(), current));
}

void MainWindow::saveLinks()
{
    const QString chosen =
        m_platform.saveFileName(this, texts::saveTitle(), texts::saveFilter(), QCoreApplication::applicationDirPath());
    if (chosen.isEmpty()) {
        savePath->clear();
        return;
    }
    const QString path = save_file::withTxtSuffix(chosen);
    savePath->setText(path);
    if (save_file::regularFileExists(path)
        && m_platform.messageBox(this, texts::overwrite(), texts::styleInfoYesNo, texts::notice()) != Platform::Yes)
        return;
    // The list is read only now, after the last dialog: pages may have added
    // links while the dialogs were open.
    const QString error = save_file::writeLinkFile(path, linkList->links()->items());
    if (!error.isEmpty()) {
        m_platform.messageBox(this, error + texts::saveErrorSuffix(), texts::styleInfoOk, texts::noticeBlank());
        return;
    }
    savePath->clear();
}

void MainWindow::removeRepeats()
{
    removeRepeatsFrom(*linkList->links(), remove_dups::Compare::IgnoreCase);
}

void MainWindow::removeRepeatsFrom(LinkListModel &list, remove_dups::Compare compare)
{
    const int selected = &list == linkList->links() ? linkList->selectedRow() : -1;
    const QList<qsizetype> removed = remove_dups::duplicateIndexes(list.items(), compare);
    if (removed.isEmpty())
        return;
    list.removeRows(removed);
    if (selected < 0)
        return;
    // A removed selected item leaves nothing selected: the view would move the
    // selection to the next row, which 删除选择 would then delete.
    if (std::binary_search(removed.begin(), removed.end(), qsizetype(selected))) {
        linkList->clearSelectionAndCurrent();
    } else {
        // A surviving selected item stays selected at its new row.
        const auto before = std::lower_bound(removed.begin(), removed.end(), qsizetype(selected));
        const auto row = int(selected - (before - removed.begin()));
        linkList->selectionModel()->setCurrentIndex(list.index(row), QItemSelectionModel::ClearAndSelect);
    }
}

void MainWindow::deleteSelected()
{
    const int row = linkList->selectedRow();
    if (row < 0)
        return;
    linkList->links()->removeAt(row);
    linkList->clearSelectionAndCurrent();
}

void MainWindow::deleteAll()
{
    if (m_platform.messageBox(this, texts::confirmDeleteAll(), texts::styleInfoYesNo, texts::notice()) != Platform::Yes)
        return;
    linkList->links()->clear();
    linkList->clearSelectionAndCurrent();
}

void MainWindow::showAbout()
{
    m_platform.messageBox(this, product::aboutText(), product::aboutStyle, product::aboutTitle());
}

void MainWindow::openWebsite()
{
    m_platform.openUrl(product::homePageUrl(true));
}
