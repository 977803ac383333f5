#pragma once

#include <QString>

class QWidget;

// Everything modal or outside the process that the window needs. The Qt
// implementation shows real dialogs; window tests use a recording fake.
class Platform
{
public:
    // Message box answers, as the window's handlers test them.
    enum Answer {
        Ok = 1,
        Yes = 6,
        No = 7
    };

    virtual ~Platform() = default;

    // style = buttons + icon: 0 OK, 4 Yes/No; 16 critical, 32 question,
    // 48 warning, 64 information. Returns Ok, Yes or No.
    virtual int messageBox(QWidget *owner, const QString &text, int style, const QString &title) = 0;
    // Returns the entered text, or the empty text on cancel.
    virtual QString inputBox(QWidget *owner, const QString &prompt, const QString &title,
                             const QString &defaultText) = 0;
    // Returns the chosen path, or the empty text on cancel. The dialog asks
    // nothing about overwriting and adds no suffix.
    virtual QString saveFileName(QWidget *owner, const QString &title, const QString &filter,
                                 const QString &initialDir) = 0;
    // Opens url in the user's default browser; the result is not reported.
    virtual void openUrl(const QString &url) = 0;
};

class QtPlatform final : public Platform
{
public:
    int messageBox(QWidget *owner, const QString &text, int style, const QString &title) override;
    QString inputBox(QWidget *owner, const QString &prompt, const QString &title, const QString &defaultText) override;
    QString saveFileName(QWidget *owner, const QString &title, const QString &filter,
                         const QString &initialDir) override;
    void openUrl(const QString &url) override;
};
