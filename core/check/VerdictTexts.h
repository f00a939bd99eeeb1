#pragma once

// The verdict's own texts, part of the program's table of texts (Messages.h includes them). They stand
// here, beside the verdict that gives them, so that the verdict needs nothing of the batch; the formats'
// descriptions are in the signature tables (Signatures.cpp).
namespace brasko::messages {

inline constexpr const char* kLooksRandom = "sieht zufällig aus (falsches Kennwort?)";
inline constexpr const char* kTooShort = "zu kurz für eine Prüfung (weniger als 64 Byte)";
inline constexpr const char* kBinary = "Binärdaten";
inline constexpr const char* kTextAscii = "Text (ASCII)";
inline constexpr const char* kTextUtf8 = "Text (UTF-8)";
inline constexpr const char* kTextUtf16 = "Text (UTF-16)";
inline constexpr const char* kTextLatin1 = "Text (ISO-8859-1/Windows-1252)";
inline constexpr const char* kXmlDocument = "XML-Dokument";
inline constexpr const char* kSvgGraphic = "SVG-Grafik";
inline constexpr const char* kHtmlDocument = "HTML-Dokument";
inline constexpr const char* kJsonData = "JSON-Daten";
inline constexpr const char* kOpenPgp = "OpenPGP-Schlüssel oder -Nachricht";

} // namespace brasko::messages
