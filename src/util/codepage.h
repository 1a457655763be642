// Text <-> byte strings in a code page (glibc iconv), the host code page and UTF-8.
#pragma once

#include "util/bytes.h"

#include <string>

namespace tarsel {

// The converter name for a Windows code page number (437, 866, 932, 936, 950,
// 1250..1258, 28597, ...), or nullptr when the number is not known. 1252 is handled
// by the host table and has no converter name.
const char* CodePageConverterName(int codePage);

// True when `codePage` converts as itself (not through the Windows-1252 fallback).
bool IsKnownCodePage(int codePage);

// Every character converted to the code page; an unmappable character becomes "?" and
// the conversion goes on. No terminator. An empty text gives the single byte 00.
// An unknown code page number converts as Windows-1252.
Bytes WideToCodePage(const Text& text, int codePage);

// The reverse; a byte sequence that is not valid in the code page becomes U+FFFD and
// the conversion goes on. Empty bytes give a text of one NUL character. An unknown
// code page number converts as Windows-1252.
Text CodePageToWide(const Bytes& bytes, int codePage);

// The host code page of settings files and reports: Windows-1252 with its five
// undefined bytes 81, 8D, 8F, 90, 9D taken as U+0081, U+008D, U+008F, U+0090, U+009D,
// so every byte survives a round trip. Empty in, empty out.
Bytes WideToHost(const Text& text);
Text HostToWide(const Bytes& bytes);

// UTF-16 <-> UTF-8; an unpaired surrogate or an invalid UTF-8 byte becomes U+FFFD.
std::string Utf16ToUtf8(const Text& text);
Text Utf8ToUtf16(const std::string& utf8);

} // namespace tarsel
