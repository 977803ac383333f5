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

    QLineEdit *Text1 = nullptr;     // the address box
    QLabel *Label1 = nullptr;       // "提取地址：" before the address box
    LinkListView *List1 = nullptr;  // the harvested links
    QPushButton *Command1 = nullptr; // "提 取": extract
    QLineEdit *Text2 = nullptr;     // hidden: the file being saved to
    QLineEdit *Text3 = nullptr;     // "请稍后......" while a page loads
    QLabel *Label2 = nullptr;       // hidden: the filter text (glsz)
    engine::Browser *WebBrowser1 = nullptr; // the engine that loads pages

    QMenu *gj = nullptr;        // 工具: the tools menu
    QAction *glsz = nullptr;    // 过滤设置: filter settings
    QAction *gg = nullptr;      // separator
    QAction *bc = nullptr;      // 保存列表: save the list
    QAction *g0 = nullptr;      // separator
    QAction *glcf = nullptr;    // 过滤重复: remove duplicates
    QAction *g1 = nullptr;      // separator
    QAction *scxz = nullptr;    // 删除选择: delete the selected links
    QAction *scqb = nullptr;    // 删除全部: delete all links
    QMenu *xx = nullptr;        // 软件信息: the about menu
    QAction *rjxx = nullptr;    // 软件信息: about this program
    QAction *fwgw = nullptr;    // 访问官网: open the website
};
