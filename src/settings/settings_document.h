// The settings document (a flat JSON object of 21 keys): parsing it into the
// record and the window, building it from the record, and the settings file.
#pragma once

#include "settings/display_info.h"
#include "settings/window_values.h"
#include "util/bytes.h"

#include <string>
#include <vector>

namespace tarsel {

// Texts of the parser.
inline constexpr const char* kGetSettingsError = "Get Settings Error!";
inline constexpr const char* kParsingFailed = "Parsing failed!";
inline constexpr const char* kGetSettingsFailed = "Get Settings Failed:";

// Limits that keep a hostile document from exhausting memory or the stack. A
// settings document is a few hundred bytes and flat.
inline constexpr std::size_t kMaxSettingsDocument = 1024 * 1024;
inline constexpr int kMaxSettingsNesting = 64;
extern const char* const kSettingsTooLarge;

// Parses a document into `info` and shows it in `values` (ApplySettings).
// Empty text: "Get Settings Error!". After trimming blanks and control characters
// from both ends the text must be JSON ("Parsing failed!"), at most 1 MiB and at
// most 64 levels deep. The top level must be an object; its members are taken in
// document order, names trimmed and compared case-sensitively with the 21 keys; the
// last of a repeated key wins; numbers are stored truncated to the field's width;
// absent keys keep their values. On any failure `info` and `values` are unchanged,
// except: a numeric key whose value is not a number ends the parse with an error
// text, the fields assigned before it keep their new values and `values` is not
// updated. A text key with a value that is not a string stores the value's JSON
// text. Texts are stored as the host code page bytes of their characters.
//
// A text goes to the display as a text frame, so a text value holding a 00 or
// another control character is stored as PlainDisplayText (cut at its first 00,
// control characters as "?"); its key is added to `cleanedKeys` (when given), once,
// in document order. A key repeated with a clean last value is not named.
bool ParseSettingsJson(const Text& document, TDisplayInfo& info, WindowValues& values, std::string& errorText,
                       std::vector<std::string>* cleanedKeys = nullptr);

// The same for a document in its byte form (settings file, display reply): bytes
// in the host code page. Documents over 1 MiB are refused before conversion.
bool ParseSettingsDocument(const Bytes& document, TDisplayInfo& info, WindowValues& values,
                           std::string& errorText, std::vector<std::string>* cleanedKeys = nullptr);

// The warning that names the text keys a document held control characters in.
// Empty for no keys.
std::string CleanedTextsWarning(const std::vector<std::string>& keys);

// The document as indented JSON text (keys in the display's order, non-ASCII
// characters as themselves).
Text BuildSettingsJson(const TDisplayInfo& info);

// Its byte form for the settings file: the host code page, no byte-order mark.
Bytes BuildSettingsDocument(const TDisplayInfo& info);

// The settings file's name: an extension is replaced by ".ini", a name without one
// gets ".ini" appended (mine.txt -> mine.ini, mine -> mine.ini).
std::string SettingsFileName(const std::string& path);

// Writes the document so that the old file survives a failed save (temporary file
// in the same folder, renamed over the target). False with the system's error text.
bool SaveSettingsFile(const std::string& path, const TDisplayInfo& info, std::string& error);

// Reads the file's bytes without ever blocking: a FIFO, device, socket or folder is
// refused with a text that names it. False with the system's error text when it
// cannot be opened or read, or a clear text when it is larger than any settings
// document.
bool LoadSettingsFile(const std::string& path, Bytes& content, std::string& error);

// Messages of the settings file operations.
inline constexpr const char* kLoadSettingsError = "Load Settings Error!";
inline constexpr const char* kLoadSettingsSuccess = "Load Settings Success!";
inline constexpr const char* kSaveSettingsSuccess = "Save Settings File Success:";

} // namespace tarsel
