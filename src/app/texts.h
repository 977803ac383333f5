#pragma once

#include <QString>

// Every fixed caption and message of the window, exactly as shown (trailing
// blanks included: "提示" and "提示 " are two different titles).
namespace texts {

inline QString s(const char16_t *text)
{
    return QString::fromUtf16(text);
}

// Controls
inline QString initialAddress()
{
    return s(u"http://");
}
inline QString addressLabel()
{
    return s(u"提取地址：");
}
inline QString extractButton()
{
    return s(u"提 取");
}
inline QString busy()
{
    return s(u"请稍后......");
}

// Menus
inline QString toolsMenu()
{
    return s(u"工 具(&T)");
}
inline QString filterSettings()
{
    return s(u"过滤设置");
}
inline QString saveList()
{
    return s(u"保存列表");
}
inline QString removeRepeats()
{
    return s(u"过滤重复");
}
inline QString deleteSelected()
{
    return s(u"删除选择");
}
inline QString deleteAll()
{
    return s(u"删除全部");
}
inline QString aboutMenu()
{
    return s(u"软件信息(&V)");
}
inline QString aboutProgram()
{
    return s(u"软件信息");
}
inline QString visitWebsite()
{
    return s(u"访问官网");
}

// Message titles
inline QString notice()
{
    return s(u"提示");
}
inline QString noticeBlank()
{
    return s(u"提示 ");
}

// Filter
inline QString filterPrompt()
{
    return s(u"设置提取链接里所包含的文字，留空则提取所有链接");
}
inline QString filterTitle()
{
    return s(u"Ardentis科技-Velmora");
}

// Deletion
inline QString confirmDeleteAll()
{
    return s(u"确认要删除所有吗?  ");
}

// Saving
inline QString saveTitle()
{
    return s(u"保存链接列表");
}
inline QString saveFilter()
{
    return s(u"文本文件 (*.txt)");
}
inline QString overwrite()
{
    return s(u"该文件名已经存在，是否覆盖！       ");
}
inline QString saveErrorSuffix()
{
    return s(u"  保存错误！      ");
}

// Message box styles: buttons + icon.
inline constexpr int styleWarningOk = 48;
inline constexpr int styleInfoOk = 64;
inline constexpr int styleInfoYesNo = 68;

} // namespace texts
