#include "engine/chromium_locator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace engine {

namespace {

bool isRunnable(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString installHint()
{
    return QCoreApplication::translate(
        "engine",
        "请安装 Debian 软件包 chromium-headless-shell 或 chromium（sudo apt install chromium-headless-shell）后重试。");
}

} // namespace

LocatorInput LocatorInput::systemInputs()
{
    LocatorInput input;
    input.override = qEnvironmentVariable("VELMORA_CHROMIUM");
    // The headless shell first: the same engine and security fixes as the
    // browser, built for automation, it starts in half the time and idles in
    // half the memory. Debian's real binaries: /usr/bin/chromium is a wrapper
    // script that adds flags of its own and prints noise.
    input.candidates = {QStringLiteral("/usr/lib/chromium/chromium-headless-shell"),
                        QStringLiteral("chromium-headless-shell"),
                        QStringLiteral("/usr/lib/chromium/chromium"),
                        QStringLiteral("chromium"),
                        QStringLiteral("chromium-browser"),
                        QStringLiteral("google-chrome"),
                        QStringLiteral("google-chrome-stable"),
                        QStringLiteral("microsoft-edge")};
    input.pathVariable = qEnvironmentVariable("PATH");
    return input;
}

LocatorResult locateChromium(const LocatorInput &input)
{
    if (!input.override.isEmpty()) {
        const QFileInfo info(input.override);
        if (!info.exists())
            return {{},
                    QCoreApplication::translate("engine",
                                                "找不到 Chromium：环境变量 VELMORA_CHROMIUM 指向的文件“%1”不存在。%2")
                        .arg(input.override, installHint())};
        if (!isRunnable(input.override))
            return {{},
                    QCoreApplication::translate(
                        "engine", "无法使用 Chromium：环境变量 VELMORA_CHROMIUM 指向的“%1”不是可执行文件。%2")
                        .arg(input.override, installHint())};
        return {info.absoluteFilePath(), {}};
    }
    const QStringList dirs = input.pathVariable.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    for (const QString &candidate : input.candidates) {
        if (QDir::isAbsolutePath(candidate)) {
            if (isRunnable(candidate))
                return {candidate, {}};
            continue;
        }
        for (const QString &dir : dirs) {
            const QString onPath = QDir(dir).filePath(candidate);
            if (isRunnable(onPath))
                return {onPath, {}};
        }
    }
    return {{},
            QCoreApplication::translate("engine", "找不到 Chromium 浏览器，无法提取网页链接。%1").arg(installHint())};
}

} // namespace engine
