#pragma once

#include "app/platform.h"

#include <QList>
#include <QStringList>
#include <functional>

// Answers the window's dialogs from a script and records every call, so no
// test ever opens a real modal dialog or a browser.
class FakePlatform final : public Platform
{
public:
    struct Message
    {
        QString text;
        int style = 0;
        QString title;
    };
    struct Input
    {
        QString prompt;
        QString title;
        QString defaultText;
    };
    struct SaveDialog
    {
        QString title;
        QString filter;
        QString initialDir;
    };

    int messageBox(QWidget *owner, const QString &text, int style, const QString &title) override;
    QString inputBox(QWidget *owner, const QString &prompt, const QString &title, const QString &defaultText) override;
    QString saveFileName(QWidget *owner, const QString &title, const QString &filter,
                         const QString &initialDir) override;
    void openUrl(const QString &url) override { openedUrls.append(url); }

    // Scripted answers, taken in order; when none is left a message box
    // answers Ok (Yes/No boxes: No), an input box and the save dialog cancel.
    QList<int> messageAnswers;
    QStringList inputAnswers;
    QStringList saveAnswers;
    // Runs inside every message box, for checks of the window's state then.
    std::function<void(const Message &)> onMessage;

    QList<Message> messages;
    QList<Input> inputs;
    QList<SaveDialog> saveDialogs;
    QStringList openedUrls;
};
