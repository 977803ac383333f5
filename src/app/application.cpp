#include "app/application.h"

#include "app/localization.h"
#include "velmora_config.h"

#include <QApplication>
#include <QIcon>

void setUpApplication(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmora"));
    useChineseLocale(app);

    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/velmora-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}
