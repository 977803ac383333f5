#pragma once

#include <QProcessEnvironment>

namespace cli {

// velmora-extract's texts are English in the source, the engine's and the
// core's Chinese (the window's language); a translation gives each the other.
enum class Language {
    English,
    Chinese
};

// The language of messages, as POSIX picks the locale of LC_MESSAGES: the
// first of LC_ALL, LC_MESSAGES and LANG that is set and not empty; Chinese
// for any zh locale, English for any other.
Language messageLanguage(const QProcessEnvironment &environment);

// Installs the translation the program carries for that language.
void useMessageLanguage(Language language);

} // namespace cli
