#pragma once

#include <QString>

// Cleaning and checking what the user typed into the address box.
namespace address {

enum class Verdict {
    Ok,        // may be loaded
    BadPrefix, // does not start with "http://" exactly
    TooShort,  // fewer than 13 characters in all
    TooLong,   // longer than Chromium loads: told at once, as a wrong address
};

inline constexpr int minimumLength = 13;
// Chromium's own limit on an address (url::kMaxURLChars); one longer would
// only travel to it to be refused.
inline constexpr qsizetype maximumLength = qsizetype(2) * 1024 * 1024;

// Removes blanks (U+0020 and the ideographic space U+3000, which Chinese
// input methods type) at both ends; every other character stays.
QString trimBlanks(const QString &text);

// Checks an already trimmed address. Lengths count UTF-16 code units.
Verdict check(const QString &trimmed);

// An address as a message quotes it, whatever its length: on one line (C0
// controls and DEL as %XX, as harvest::encodeControls writes them), and at
// most quotedLength units, a longer one keeping its start and its end
// around an ellipsis, never half a surrogate pair at the cut. A 10 MB
// address would otherwise make a message box as wide as the screen and
// take minutes to lay out.
inline constexpr qsizetype quotedLength = 120;
QString elided(QStringView address);

// What the user is told when an address is refused, exactly as the window's
// message box shows it (its trailing blanks included); empty for Ok. The
// command-line extractor says the same.
QString message(Verdict verdict);

} // namespace address
