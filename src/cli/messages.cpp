#include "cli/messages.h"

#include <QCoreApplication>
#include <QTranslator>

namespace cli {

namespace {

// Qt's own texts that reach our users: the parser's help and usage errors,
// and why an --input file could not be read. Listed so that lupdate keeps
// them in the Chinese translation file.
[[maybe_unused]] constexpr const char *qtTexts[] = {
    QT_TRANSLATE_NOOP("QCommandLineParser", "Usage: %1"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "[options]"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Options:"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Arguments:"),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unknown option '%1'."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unknown options: %1."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Missing value after '%1'."),
    QT_TRANSLATE_NOOP("QCommandLineParser", "Unexpected value after '%1'."),
    QT_TRANSLATE_NOOP("QIODevice", "No such file or directory"),
    QT_TRANSLATE_NOOP("QIODevice", "Permission denied"),
    QT_TRANSLATE_NOOP("QIODevice", "file to open is a directory"),
    QT_TRANSLATE_NOOP("QIODevice", "Too many open files"),
    QT_TRANSLATE_NOOP("QIODevice", "No space left on device"),
    QT_TRANSLATE_NOOP("QIODevice", "Unknown error"),
};

} // namespace

Language messageLanguage(const QProcessEnvironment &environment)
{
    QString locale;
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = environment.value(QLatin1String(name));
        if (!locale.isEmpty())
            break;
    }
    // language[_territory][.codeset][@modifier]
    qsizetype end = 0;
    while (end < locale.size() && !QStringView(u"_.@").contains(locale.at(end)))
        ++end;
    return QStringView(locale).left(end) == QLatin1String("zh") ? Language::Chinese : Language::English;
}

void useMessageLanguage(Language language)
{
    // Built into the program as resources (src/cli/CMakeLists.txt).
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(language == Language::Chinese ? QStringLiteral(":/i18n/velmora-extract_zh_CN.qm")
                                                       : QStringLiteral(":/i18n/velmora-extract_en.qm")))
        QCoreApplication::installTranslator(translator);
}

} // namespace cli
