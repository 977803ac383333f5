#include "engine/chromium_locator.h"

#include <QDir>
#include <QFileInfo>

namespace engine {

namespace {

bool isRunnable(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

const QString installHint = QStringLiteral("请安装 Debian 软件包 chromium（sudo apt install chromium）后重试。");

} // namespace

LocatorInput LocatorInput::systemInputs()
{
    LocatorInput input;
    input.override = qEnvironmentVariable("VELMORA_CHROMIUM");
    // Debian's real binary: /usr/bin/chromium is a wrapper script that adds
    // flags of its own and prints noise.
    input.fixedPaths = {QStringLiteral("/usr/lib/chromium/chromium")};
    input.names = {QStringLiteral("chromium"), QStringLiteral("chromium-browser"),
                   QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable"),
                   QStringLiteral("microsoft-edge")};
    input.pathVariable = qEnvironmentVariable("PATH");
    return input;
}

LocatorResult locateChromium(const LocatorInput &input)
{
    if (!input.override.isEmpty()) {
        const QFileInfo info(input.override);
        if (!info.exists())
            return {{}, QStringLiteral("找不到 Chromium：环境变量 VELMORA_CHROMIUM 指向的文件“%1”不存在。%2")
                            .arg(input.override, installHint)};
        if (!isRunnable(input.override))
            return {{}, QStringLiteral("无法使用 Chromium：环境变量 VELMORA_CHROMIUM 指向的“%1”不是可执行文件。%2")
                            .arg(input.override, installHint)};
        return {info.absoluteFilePath(), {}};
    }
    for (const QString &path : input.fixedPaths) {
        if (isRunnable(path))
            return {path, {}};
    }
    const QStringList dirs = input.pathVariable.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    for (const QString &name : input.names) {
        for (const QString &dir : dirs) {
            const QString candidate = QDir(dir).filePath(name);
            if (isRunnable(candidate))
                return {candidate, {}};
        }
    }
    return {{}, QStringLiteral("找不到 Chromium 浏览器，无法提取网页链接。%1").arg(installHint)};
}

} // namespace engine
