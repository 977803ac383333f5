#pragma once

#include <QMainWindow>

namespace engine {
class Browser;
}
class LinkListModel;
class LinkListView;
class Platform;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

// The one window. Controls and menu items carry the names the handlers use,
// as members and as objectName; every handler is named after its event.
class Form1 final : public QMainWindow
{
    Q_OBJECT
public:
    // Takes ownership of browser; platform must outlive the window.
    Form1(engine::Browser *browser, Platform &platform, QWidget *parent = nullptr);
    ~Form1() override;

    // Removes every later copy of an item: comptype 0 ignores letter case,
    // any other value compares exactly.
    void RemoveDups(LinkListModel &lst, int comptype);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void placeCentred();

    void Form_Load();
    void Form_Unload();
    void Command1_Click();
    void Text1_KeyDown(int key, Qt::KeyboardModifiers shift);
    void List1_MouseDown(Qt::MouseButton button);
    void List1_MouseUp(Qt::MouseButton button, const QPoint &globalPos);
    void glsz_Click();
    void bc_Click();
    void glcf_Click();
    void scxz_Click();
    void scqb_Click();
    void rjxx_Click();
    void fwgw_Click();
    void WebBrowser1_DocumentComplete(bool topLevel, const QString &url, const QStringList &anchors);
    void WebBrowser1_Failed(const QString &reason);

    Platform &m_platform;

    QLineEdit *Text1 = nullptr;
    QLabel *Label1 = nullptr;
    LinkListView *List1 = nullptr;
    QPushButton *Command1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLineEdit *Text3 = nullptr;
    QLabel *Label2 = nullptr;
    engine::Browser *WebBrowser1 = nullptr;

    QMenu *gj = nullptr;
    QAction *glsz = nullptr;
    QAction *gg = nullptr;
    QAction *bc = nullptr;
    QAction *g0 = nullptr;
    QAction *glcf = nullptr;
    QAction *g1 = nullptr;
    QAction *scxz = nullptr;
    QAction *scqb = nullptr;
    QMenu *xx = nullptr;
    QAction *rjxx = nullptr;
    QAction *fwgw = nullptr;
};
