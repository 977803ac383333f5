#include "fake_platform.h"

int FakePlatform::messageBox(QWidget *, const QString &text, int style, const QString &title)
{
    const Message message{text, style, title};
    messages.append(message);
    if (onMessage)
        onMessage(message);
    if (!messageAnswers.isEmpty())
        return messageAnswers.takeFirst();
    return (style & 0x0F) == 4 ? No : Ok;
}

QString FakePlatform::inputBox(QWidget *, const QString &prompt, const QString &title, const QString &defaultText)
{
    inputs.append({prompt, title, defaultText});
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}

QString FakePlatform::saveFileName(QWidget *, const QString &title, const QString &filter, const QString &initialDir)
{
    saveDialogs.append({title, filter, initialDir});
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
}
