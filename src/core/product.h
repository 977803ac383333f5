#pragma once

#include <QString>
#include <QtGlobal>

// What the product says about itself: the window caption, the about box and
// the home-page address. Host name and contact number are deployment values
// (velmora_config.h).
namespace product {

// The one-character text that a code denotes in code page 936: an ASCII code
// gives that character; a double-byte code is passed as a signed 16-bit
// number (0xBFC6 as -16442). A code that names no character gives U+FFFD.
QString chr936(qint16 code);

// "Ardentis科技-VelmoraV1.1(<host>)", built piece by piece from character
// codes and joined left to right. Its "V1.1", like the about box's, is fixed
// text that users know, not the build's VELMORA_VERSION.
QString composeCaption();

// The seven lines of the about box, joined by CR LF, none after the last.
QString aboutText();

// Title and style (OK button, information icon) of the about box.
QString aboutTitle();
inline constexpr int aboutStyle = 64;

// "http://<host>", with or without the trailing "/": the menu command opens
// the one with it, closing the window the one without.
QString homePageUrl(bool trailingSlash);

} // namespace product
