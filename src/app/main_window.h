#pragma once

#include "core/remove_dups.h"

#include <QMainWindow>

namespace engine {
class Browser;
enum class PageNotice : quint8;
} // namespace engine
class LinkListModel;
class LinkListView;
class Platform;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

// The one window.
//
// Glossary. Each control keeps its original name as its objectName, which
// accessibility and the tests find it by; the code uses the member:
//   Form1        MainWindow (class)  gj    toolsMenu
//   Text1        addressBox          glsz  filterAction
//   Label1       addressLabel        gg    toolsSeparator1
//   List1        linkList            bc    saveAction
//   Command1     extractButton       g0    toolsSeparator2
//   Text2        savePath            glcf  removeRepeatsAction
//   Text3        busyIndicator       g1    toolsSeparator3
//   Label2       filterText          scxz  deleteSelectedAction
//   WebBrowser1  browser             scqb  deleteAllAction
//                                    xx    aboutMenu
//                                    rjxx  aboutAction
//                                    fwgw  websiteAction
// and the handlers:
//   Form_Load        onLoad()             glsz_Click  setFilter()
//   Form_Unload      onClose()            bc_Click    saveLinks()
//   Command1_Click   extract()            glcf_Click  removeRepeats()
//   Text1_KeyDown    onAddressKey()       scxz_Click  deleteSelected()
//   List1_MouseDown  onListPress()        scqb_Click  deleteAll()
//   List1_MouseUp    onListRelease()      rjxx_Click  showAbout()
//   RemoveDups       removeRepeatsFrom()  fwgw_Click  openWebsite()
//   WebBrowser1_DocumentComplete  onDocumentComplete()
//   WebBrowser1_Failed            onBrowserFailed()
// An address harvested from a page is a "link" in every layer.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
public:
    // Takes ownership of pageEngine; platform must outlive the window.
    MainWindow(engine::Browser *pageEngine, Platform &platform, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Removes every later copy of an item; the first stays.
    void removeRepeatsFrom(LinkListModel &list, remove_dups::Compare compare);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void placeCentred();

    void onLoad();
    void onClose();
    void extract();
    void onAddressKey(int key, Qt::KeyboardModifiers modifiers);
    void onListPress(Qt::MouseButton button);
    void onListRelease(Qt::MouseButton button, const QPoint &globalPos);
    void setFilter();
    void saveLinks();
    void removeRepeats();
    void deleteSelected();
    void deleteAll();
    void showAbout();
    void openWebsite();
    void onDocumentComplete(bool topLevel, const QString &url, const QStringList &links);
    void onBrowserFailed(const QString &reason);
    void onPageNotice(const QString &url, engine::PageNotice kind, const QString &message);

    Platform &m_platform;

    QLineEdit *addressBox = nullptr;
    QLabel *addressLabel = nullptr;       // "提取地址：" before the address box
    LinkListView *linkList = nullptr;     // the harvested links
    QPushButton *extractButton = nullptr; // "提 取"
    QLineEdit *savePath = nullptr;        // hidden: the file being saved to
    QLineEdit *busyIndicator = nullptr;   // "请稍后......" while a page loads
    QLabel *filterText = nullptr;         // hidden: what a kept link must contain
    engine::Browser *browser = nullptr;   // the engine that loads pages

    QMenu *toolsMenu = nullptr;      // 工具
    QAction *filterAction = nullptr; // 过滤设置
    QAction *toolsSeparator1 = nullptr;
    QAction *saveAction = nullptr; // 保存列表
    QAction *toolsSeparator2 = nullptr;
    QAction *removeRepeatsAction = nullptr; // 过滤重复
    QAction *toolsSeparator3 = nullptr;
    QAction *deleteSelectedAction = nullptr; // 删除选择
    QAction *deleteAllAction = nullptr;      // 删除全部
    QMenu *aboutMenu = nullptr;              // 软件信息
    QAction *aboutAction = nullptr;          // 软件信息: about this program
    QAction *websiteAction = nullptr;        // 访问官网: the vendor's home page
};
