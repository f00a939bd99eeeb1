#include "Signatures.h"

#include <array>
#include <cstring>

namespace brasko {

namespace {

using namespace std::string_view_literals;

constexpr std::array kSignatures = {
    SSignature{0, "%PDF-"sv, 0, {}, "PDF-Dokument", true},
    SSignature{0, "\x89PNG\r\n\x1A\n"sv, 0, {}, "PNG-Bild", true},
    SSignature{0, "\xFF\xD8\xFF"sv, 0, {}, "JPEG-Bild", true},
    SSignature{0, "GIF87a"sv, 0, {}, "GIF-Bild", true},
    SSignature{0, "GIF89a"sv, 0, {}, "GIF-Bild", true},
    SSignature{0, "II*\0"sv, 0, {}, "TIFF-Bild", true},
    SSignature{0, "MM\0*"sv, 0, {}, "TIFF-Bild", true},
    SSignature{0, "RIFF"sv, 8, "WEBP"sv, "WebP-Bild", true},
    SSignature{0, "RIFF"sv, 8, "WAVE"sv, "WAV-Audio", true},
    SSignature{0, "RIFF"sv, 8, "AVI "sv, "AVI-Video", true},
    SSignature{0, "ID3\x02\0"sv, 0, {}, "MP3-Audio", true},
    SSignature{0, "ID3\x03\0"sv, 0, {}, "MP3-Audio", true},
    SSignature{0, "ID3\x04\0"sv, 0, {}, "MP3-Audio", true},
    SSignature{0, "OggS\0"sv, 0, {}, "Ogg-Audio/Video", true},
    SSignature{0, "fLaC"sv, 0, {}, "FLAC-Audio", true},
    SSignature{4, "ftyp"sv, 0, {}, "MP4/QuickTime-Medien", true},
    SSignature{0, "\x1A\x45\xDF\xA3"sv, 0, {}, "Matroska/WebM-Video", true},
    SSignature{0, "PK\x03\x04"sv, 30, "[Content_Types].xml"sv, "Office-Dokument (OOXML)", true},
    SSignature{0, "PK\x03\x04"sv, 30, "mimetypeapplication/vnd.oasis.opendocument"sv, "OpenDocument-Datei",
               true},
    SSignature{0, "PK\x03\x04"sv, 0, {}, "ZIP-Archiv", true},
    SSignature{0, "PK\x05\x06"sv, 0, {}, "ZIP-Archiv", true},
    SSignature{0, "\x1F\x8B\x08"sv, 0, {}, "gzip-komprimierte Daten", true},
    SSignature{0, "BZh"sv, 4, "1AY&SY"sv, "bzip2-komprimierte Daten", true},
    SSignature{0,
               "\xFD"
               "7zXZ\0"sv,
               0,
               {},
               "xz-komprimierte Daten",
               true},
    SSignature{0, "\x28\xB5\x2F\xFD"sv, 0, {}, "Zstandard-komprimierte Daten", true},
    SSignature{0, "\x04\x22\x4D\x18"sv, 0, {}, "LZ4-komprimierte Daten", true},
    SSignature{0, "LZIP"sv, 0, {}, "lzip-komprimierte Daten", true},
    SSignature{0, "7z\xBC\xAF\x27\x1C"sv, 0, {}, "7-Zip-Archiv", true},
    SSignature{0, "Rar!\x1A\x07"sv, 0, {}, "RAR-Archiv", true},
    SSignature{257, "ustar"sv, 0, {}, "tar-Archiv", true},
    SSignature{0, "!<arch>\ndebian-binary"sv, 0, {}, "Debian-Paket", true},
    SSignature{0, "!<arch>\n"sv, 0, {}, "ar-Archiv", true},
    SSignature{0, "\xED\xAB\xEE\xDB"sv, 0, {}, "RPM-Paket", true},
    SSignature{0, "MSCF\0\0\0\0"sv, 0, {}, "CAB-Archiv", true},
    SSignature{0, "wOFF"sv, 0, {}, "Web-Schrift (WOFF)", true},
    SSignature{0, "wOF2"sv, 0, {}, "Web-Schrift (WOFF2)", true},
    SSignature{0,
               "\x7F"
               "ELF"sv,
               0,
               {},
               "ELF-Programm oder -Bibliothek",
               true},
    SSignature{0, "SQLite format 3\0"sv, 0, {}, "SQLite-Datenbank", true},
    SSignature{
        0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, 0, {}, "Office-Dokument (OLE2, etwa .doc oder .xls)", true},
    SSignature{0, "{\\rtf"sv, 0, {}, "RTF-Dokument", true},
    SSignature{0, "%!PS"sv, 0, {}, "PostScript-Dokument", true},
    SSignature{0, "TZif"sv, 0, {}, "Zeitzonendaten", true},
    SSignature{0, "\xCA\xFE\xBA\xBE"sv, 0, {}, "Java-Klasse", true},
    SSignature{0, "\xDE\x12\x04\x95"sv, 0, {}, "gettext-Übersetzungen", true},
    SSignature{0, "\x95\x04\x12\xDE"sv, 0, {}, "gettext-Übersetzungen", true},
    SSignature{0, "\x3C\xB8\x64\x18\xCA\xEF\x9C\x95"sv, 0, {}, "Qt-Übersetzungen", true},
    SSignature{0, "MZ"sv, 0, {}, "Windows-Programm", false},
    SSignature{0, "BM"sv, 0, {}, "BMP-Bild", false},
    SSignature{0, "\0\x01\0\0"sv, 0, {}, "TrueType-Schrift", false},
    SSignature{0, "OTTO"sv, 0, {}, "OpenType-Schrift", false},
};

// The MIME type libmagic gives for a format TrustedMimeDescription trusts.
struct SMimeType
{
    std::string_view type; // exact, or a prefix when it ends in "."
    const char* pszDescription;
};

constexpr std::array kTrustedMimeTypes = {
    SMimeType{"application/zip"sv, "ZIP-Archiv"},
    SMimeType{"application/java-archive"sv, "Java-Archiv (JAR)"},
    SMimeType{"application/vnd.android.package-archive"sv, "Android-Paket (APK)"},
    SMimeType{"application/epub+zip"sv, "E-Book (EPUB)"},
    SMimeType{"application/vnd.openxmlformats-officedocument."sv, "Office-Dokument (OOXML)"},
    SMimeType{"application/vnd.oasis.opendocument."sv, "OpenDocument-Datei"},
    SMimeType{"application/x-bzip2"sv, "bzip2-komprimierte Daten"},
    SMimeType{"application/x-xz"sv, "xz-komprimierte Daten"},
    SMimeType{"application/zstd"sv, "Zstandard-komprimierte Daten"},
    SMimeType{"application/x-lzip"sv, "lzip-komprimierte Daten"},
    SMimeType{"application/x-lz4"sv, "LZ4-komprimierte Daten"},
    SMimeType{"application/x-7z-compressed"sv, "7-Zip-Archiv"},
    SMimeType{"application/x-rar"sv, "RAR-Archiv"},
    SMimeType{"application/vnd.rar"sv, "RAR-Archiv"},
    SMimeType{"application/x-tar"sv, "tar-Archiv"},
    SMimeType{"application/x-xar"sv, "XAR-Archiv"},
    SMimeType{"application/vnd.debian.binary-package"sv, "Debian-Paket"},
    SMimeType{"application/x-debian-package"sv, "Debian-Paket"},
    SMimeType{"application/x-rpm"sv, "RPM-Paket"},
    SMimeType{"application/vnd.ms-cab-compressed"sv, "CAB-Archiv"},
    SMimeType{"application/x-iso9660-image"sv, "CD/DVD-Abbild (ISO 9660)"},
    SMimeType{"application/pdf"sv, "PDF-Dokument"},
    SMimeType{"image/png"sv, "PNG-Bild"},
    SMimeType{"image/gif"sv, "GIF-Bild"},
    SMimeType{"image/webp"sv, "WebP-Bild"},
    SMimeType{"image/tiff"sv, "TIFF-Bild"},
    SMimeType{"image/heic"sv, "HEIF-Bild"},
    SMimeType{"image/heif"sv, "HEIF-Bild"},
    SMimeType{"image/avif"sv, "AVIF-Bild"},
    SMimeType{"image/jxl"sv, "JPEG-XL-Bild"},
    SMimeType{"image/jp2"sv, "JPEG-2000-Bild"},
    SMimeType{"audio/ogg"sv, "Ogg-Audio/Video"},
    SMimeType{"video/ogg"sv, "Ogg-Audio/Video"},
    SMimeType{"audio/flac"sv, "FLAC-Audio"},
    SMimeType{"audio/x-flac"sv, "FLAC-Audio"},
    SMimeType{"video/mp4"sv, "MP4/QuickTime-Medien"},
    SMimeType{"audio/mp4"sv, "MP4/QuickTime-Medien"},
    SMimeType{"video/quicktime"sv, "MP4/QuickTime-Medien"},
    SMimeType{"video/webm"sv, "Matroska/WebM-Video"},
    SMimeType{"video/x-matroska"sv, "Matroska/WebM-Video"},
    SMimeType{"font/woff"sv, "Web-Schrift (WOFF)"},
    SMimeType{"font/woff2"sv, "Web-Schrift (WOFF2)"},
};

} // namespace

bool HasAt(std::span<const unsigned char> bytes, std::size_t nOffset, std::string_view magic)
{
    return bytes.size() >= nOffset + magic.size() &&
           std::memcmp(bytes.data() + nOffset, magic.data(), magic.size()) == 0;
}

const SSignature* FindSignature(std::span<const unsigned char> bytes)
{
    for (const SSignature& signature : kSignatures) {
        if (HasAt(bytes, signature.nOffset, signature.magic) &&
            (signature.magic2.empty() || HasAt(bytes, signature.nOffset2, signature.magic2)))
            return &signature;
    }
    return nullptr;
}

const char* TrustedMimeDescription(std::string_view type)
{
    for (const SMimeType& trusted : kTrustedMimeTypes) {
        if (trusted.type.ends_with('.') ? type.starts_with(trusted.type) : type == trusted.type)
            return trusted.pszDescription;
    }
    return nullptr;
}

} // namespace brasko
