// Moving bytes between files, streams and byte strings.
#pragma once

#include "util/bytes.h"

#include <iosfwd>
#include <string>

namespace tarsel {

// The whole content of the file, byte for byte; empty when it cannot be opened or read.
Bytes ReadFileBytes(const std::string& path);

// Replaces the file with `bytes` so that a reader sees either the old or the new
// content, never a mix: writes a temporary file in the same folder, flushes it to
// disk and renames it over the target. On failure the old file is untouched, the
// temporary file is removed, and `error` holds the system's error text.
bool WriteFileAtomic(const std::string& path, const Bytes& bytes, std::string& error);

// The stream's whole content from position 0 to its end; empty for no stream or on a
// read error. The stream is left positioned after the last byte read.
Bytes StreamToBytes(std::istream* stream);

// Empties the stream and writes the bytes into it; false when the stream failed
// (it may then hold part of the bytes).
bool BytesToStream(const Bytes& bytes, std::stringstream& stream);

} // namespace tarsel
