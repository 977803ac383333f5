#include "app/platform.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

int QtPlatform::messageBox(QWidget *owner, const QString &text, int style, const QString &title)
{
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    switch (style & 0x70) {
    case 16:
        box.setIcon(QMessageBox::Critical);
        break;
    case 32:
        box.setIcon(QMessageBox::Question);
        break;
    case 48:
        box.setIcon(QMessageBox::Warning);
        break;
    case 64:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    if ((style & 0x0F) == 4) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Yes;
    case QMessageBox::No:
        return No;
    default:
        return Ok;
    }
}

QString QtPlatform::inputBox(QWidget *owner, const QString &prompt, const QString &title, const QString &defaultText)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(owner, title, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}

QString QtPlatform::saveFileName(QWidget *owner, const QString &title, const QString &filter, const QString &initialDir)
{
    // The window asks about overwriting itself, after adding ".txt".
    return QFileDialog::getSaveFileName(owner, title, initialDir, filter, nullptr, QFileDialog::DontConfirmOverwrite);
}

void QtPlatform::openUrl(const QString &url)
{
    QDesktopServices::openUrl(QUrl(url));
}
