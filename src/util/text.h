// Padding, character removal, defaults and lookups on texts and byte strings.
#pragma once

#include "util/bytes.h"

#include <optional>
#include <string>
#include <vector>

namespace tarsel {

// The text with every occurrence of `c` removed.
Text RemoveChar(const Text& text, char16_t c);

// Appends `c` until the text has `width` characters; longer texts are returned unchanged.
Text PadRight(const Text& text, int width, char16_t c);

// The same for byte strings.
Bytes PadRightBytes(const Bytes& bytes, std::size_t width, char byte);

// `count` copies of `c` in front of the text; a count of 0 or less adds nothing.
Text PrependChars(const Text& text, int count, char16_t c);

// The default when the value is missing, empty or only blanks (characters up to
// U+0020, as a trim would drop them); otherwise the value itself.
Text VarDefault(const std::optional<Text>& value, const Text& fallback);
Text VarDefault(const Text& value, const Text& fallback);
std::string VarDefault(const std::string& value, const std::string& fallback);

// Position (from 0) of the first entry equal to `item` byte for byte; -1 when none is.
int IndexOfText(const std::vector<Bytes>& list, const Bytes& item);

// What a text frame may carry of a display text: the text up to its first 00 byte
// (the display ends a text at a 00 and reads the bytes after it as a new command),
// with every other byte below 0x20 replaced by "?" (those bytes start the display's
// commands). Replacing keeps every character in its column: the main text is four
// 20-character lines cut by position, and centred or padded lines stay so.
Bytes PlainDisplayText(const Bytes& text);

// True when PlainDisplayText leaves the text as it is.
bool IsPlainDisplayText(const Bytes& text);

} // namespace tarsel
