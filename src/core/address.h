#pragma once

#include <QString>

// Cleaning and checking what the user typed into the address box.
namespace address {

enum class Verdict {
    Ok,        // may be loaded
    BadPrefix, // does not start with "http://" exactly
    TooShort,  // fewer than 13 characters in all
};

inline constexpr int minimumLength = 13;

// Removes blanks (U+0020 and the ideographic space U+3000, which Chinese
// input methods type) at both ends; every other character stays.
QString trimBlanks(const QString &text);

// Checks an already trimmed address. Lengths count UTF-16 code units.
Verdict check(const QString &trimmed);

// What the user is told when an address is refused, exactly as the window's
// message box shows it (its trailing blanks included); empty for Ok. The
// command-line extractor says the same.
QString message(Verdict verdict);

} // namespace address
