#include "app/main_window.h"

#include "core/product.h"
#include "app/link_list.h"
#include "app/platform.h"
#include "app/texts.h"
#include "core/address.h"
#include "engine/browser.h"
#include "core/harvest.h"
#include "core/remove_dups.h"
#include "core/save_file.h"

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

Form1::Form1(engine::Browser *browser, Platform &platform, QWidget *parent)
    : QMainWindow(parent), m_platform(platform), WebBrowser1(browser)
{
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    buildMenus();

    WebBrowser1->setParent(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    // Queued: the handlers open modal boxes, which must not run inside the
    // engine's own processing of its messages.
    connect(WebBrowser1, &engine::Browser::documentComplete, this, &Form1::WebBrowser1_DocumentComplete,
            Qt::QueuedConnection);
    connect(WebBrowser1, &engine::Browser::navigateError, this,
            [this](const QString &, const QString &reason) { WebBrowser1_Failed(reason); },
            Qt::QueuedConnection);
    connect(WebBrowser1, &engine::Browser::engineError, this, &Form1::WebBrowser1_Failed, Qt::QueuedConnection);

    Form_Load();
    placeCentred();
    Text1->setFocus();

    // The engine starts once the event loop runs, so the window shows first.
    QTimer::singleShot(0, WebBrowser1, &engine::Browser::start);
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    const QFont song = songti();

    // Created in tab order; every control keeps its place whatever the
    // window's size.
    Text1 = new QLineEdit(texts::initialAddress(), client);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(1200, 120, 3975, 350));
    Text1->setFont(song);
    Text1->setMaxLength(std::numeric_limits<int>::max());
    Text1->installEventFilter(this);

    Label1 = new QLabel(texts::label1(), client);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(120, 240, 1095, 255));
    Label1->setFont(song);
    Label1->setTextFormat(Qt::PlainText);

    List1 = new LinkListView(client);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twips(0, 600, 6015, 2400));
    connect(List1, &LinkListView::mouseDown, this,
            [this](Qt::MouseButton button, const QPoint &) { List1_MouseDown(button); });
    connect(List1, &LinkListView::mouseUp, this, &Form1::List1_MouseUp);

    Command1 = new QPushButton(texts::command1(), client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(5280, 120, 735, 375));
    Command1->setAutoDefault(false);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);

    // Holds the path of a save while it runs.
    Text2 = new QLineEdit(client);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(twips(5400, 240, 105, 270));
    Text2->setMaxLength(std::numeric_limits<int>::max());
    Text2->hide();

    // The busy indicator: a borderless box drawn over the middle of the list.
    Text3 = new QLineEdit(texts::busy(), client);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setGeometry(twips(2400, 1560, 1335, 255));
    Text3->setFont(song);
    Text3->setFrame(false);
    Text3->setReadOnly(true);
    Text3->setFocusPolicy(Qt::NoFocus);
    Text3->hide();
    Text3->raise();

    // Holds the filter text; never shown.
    Label2 = new QLabel(client);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twips(0, 3120, 2175, 255));
    Label2->setTextFormat(Qt::PlainText);
    Label2->hide();

    setTabOrder(Text1, List1);
    setTabOrder(List1, Command1);
    setTabOrder(Command1, Text2);
}

void Form1::buildMenus()
{
    QMenuBar *bar = menuBar();

    gj = bar->addMenu(texts::gj());
    gj->setObjectName(QStringLiteral("gj"));
    glsz = addItem(gj, "glsz", texts::glsz());
    gg = addSeparator(gj, "gg");
    bc = addItem(gj, "bc", texts::bc());
    g0 = addSeparator(gj, "g0");
    glcf = addItem(gj, "glcf", texts::glcf());
    g1 = addSeparator(gj, "g1");
    scxz = addItem(gj, "scxz", texts::scxz());
    scqb = addItem(gj, "scqb", texts::scqb());

    xx = bar->addMenu(texts::xx());
    xx->setObjectName(QStringLiteral("xx"));
    rjxx = addItem(xx, "rjxx", texts::rjxx());
    fwgw = addItem(xx, "fwgw", texts::fwgw());

    connect(glsz, &QAction::triggered, this, &Form1::glsz_Click);
    connect(bc, &QAction::triggered, this, &Form1::bc_Click);
    connect(glcf, &QAction::triggered, this, &Form1::glcf_Click);
    connect(scxz, &QAction::triggered, this, &Form1::scxz_Click);
    connect(scqb, &QAction::triggered, this, &Form1::scqb_Click);
    connect(rjxx, &QAction::triggered, this, &Form1::rjxx_Click);
    connect(fwgw, &QAction::triggered, this, &Form1::fwgw_Click);
}

void Form1::placeCentred()
{
    resize(clientSize.width(), clientSize.height() + menuBar()->sizeHint().height());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
}

void Form1::Form_Load()
{
    setWindowTitle(product::composeCaption());
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void Form1::Form_Unload()
{
    m_platform.openUrl(product::homePageUrl(false));
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        Text1_KeyDown(key->key(), key->modifiers());
    }
    return QMainWindow::eventFilter(watched, event);
}

void Form1::Text1_KeyDown(int key, Qt::KeyboardModifiers shift)
{
    Q_UNUSED(shift); // Enter with any modifiers extracts.
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        Command1_Click();
}

void Form1::Command1_Click()
{
    const QString trimmed = address::trimBlanks(Text1->text());
    Text1->setText(trimmed);
    const address::Verdict verdict = address::check(trimmed);
    if (verdict != address::Verdict::Ok) {
        m_platform.messageBox(this, address::message(verdict), texts::styleWarningOk, texts::noticeBlank());
        return;
    }
    // Shown before the request so that an engine that fails at once can hide
    // it again; nothing is painted in between.
    Text3->show();
    WebBrowser1->navigate(trimmed);
}

void Form1::WebBrowser1_DocumentComplete(bool topLevel, const QString &url, const QStringList &anchors)
{
    Q_UNUSED(url);
    if (!topLevel)
        return;
    Text3->hide();
    List1->links()->append(harvest::keptAnchors(anchors, Label2->text()));
}

void Form1::WebBrowser1_Failed(const QString &reason)
{
    Text3->hide();
    m_platform.messageBox(this, reason, texts::styleWarningOk, texts::noticeBlank());
}

void Form1::List1_MouseDown(Qt::MouseButton button)
{
    Q_UNUSED(button); // Every button copies; the view has already selected.
    const LinkListModel *links = List1->links();
    if (links->count() > 0)
        Text1->setText(links->item(List1->selectedRow()));
}

void Form1::List1_MouseUp(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button != Qt::RightButton || List1->links()->count() == 0)
        return;
    gj->exec(globalPos);
}

void Form1::glsz_Click()
{
    const QString current = Label2->text();
    Label2->setText(m_platform.inputBox(this, texts::filterPrompt(), texts::filterTitle(), current));
}

void Form1::bc_Click()
{
    const QString chosen = m_platform.saveFileName(this, texts::saveTitle(), texts::saveFilter(),
                                                   QCoreApplication::applicationDirPath());
    if (chosen.isEmpty()) {
        Text2->clear();
        return;
    }
    const QString path = save_file::withTxtSuffix(chosen);
    Text2->setText(path);
    if (save_file::regularFileExists(path)
        && m_platform.messageBox(this, texts::overwrite(), texts::styleInfoYesNo, texts::notice())
               != Platform::Yes)
        return;
    // The list is read only now, after the last dialog: pages may have added
    // links while the dialogs were open.
    const QString error = save_file::writeLinkFile(path, List1->links()->items());
    if (!error.isEmpty()) {
        m_platform.messageBox(this, error + texts::saveErrorSuffix(), texts::styleInfoOk,
                              texts::noticeBlank());
        return;
    }
    Text2->clear();
}

void Form1::glcf_Click()
{
    RemoveDups(*List1->links(), 0);
}

void Form1::RemoveDups(LinkListModel &lst, int comptype)
{
    const int selected = &lst == List1->links() ? List1->selectedRow() : -1;
    const auto compare = comptype == 0 ? remove_dups::Compare::IgnoreCase : remove_dups::Compare::Exact;
    const QList<qsizetype> removed = remove_dups::duplicateIndexes(lst.items(), compare);
    if (removed.isEmpty())
        return;
    lst.removeRows(removed);
    if (selected < 0)
        return;
    // A removed selected item leaves nothing selected: the view would move the
    // selection to the next row, which 删除选择 would then delete.
    if (std::binary_search(removed.begin(), removed.end(), qsizetype(selected))) {
        List1->clearSelectionAndCurrent();
    } else {
        // A surviving selected item stays selected at its new row.
        const auto before = std::lower_bound(removed.begin(), removed.end(), qsizetype(selected));
        const auto row = int(selected - (before - removed.begin()));
        List1->selectionModel()->setCurrentIndex(lst.index(row), QItemSelectionModel::ClearAndSelect);
    }
}

void Form1::scxz_Click()
{
    const int row = List1->selectedRow();
    if (row < 0)
        return;
    List1->links()->removeAt(row);
    List1->clearSelectionAndCurrent();
}

void Form1::scqb_Click()
{
    if (m_platform.messageBox(this, texts::confirmDeleteAll(), texts::styleInfoYesNo, texts::notice())
        != Platform::Yes)
        return;
    List1->links()->clear();
    List1->clearSelectionAndCurrent();
}

void Form1::rjxx_Click()
{
    m_platform.messageBox(this, product::aboutText(), product::aboutStyle, product::aboutTitle());
}

void Form1::fwgw_Click()
{
    m_platform.openUrl(product::homePageUrl(true));
}
