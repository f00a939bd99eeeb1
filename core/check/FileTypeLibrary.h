#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace brasko {

// The MIME type libmagic gives for the bytes ("application/zip"), or empty when libmagic is not installed
// or cannot load its database. Only libmagic's own signature tests run (no text, encoding, compression or
// ELF analysis). libmagic is loaded on the first call, once per process, and not at all when nothing asks:
// the dynamic loader's work for it would cost every short run more than its decryption. Thread-safe.
std::string MagicMimeType(std::span<const unsigned char> bytes);

// Whether this process has loaded libmagic (for tests and the benchmark).
bool IsMagicLoaded();

} // namespace brasko
