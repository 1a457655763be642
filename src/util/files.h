// Moving bytes between files, streams and byte strings.
#pragma once

#include "util/bytes.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace tarsel {

// The whole content of the file, byte for byte; empty when it cannot be opened or
// read, or is not a regular file (ReadRegularFile without a size limit).
Bytes ReadFileBytes(const std::string& path);

enum class ReadStatus { Ok, OpenFailed, NotRegular, TooLarge, ReadFailed };

// Reads a regular file whole without ever blocking on what is not one. The path is
// checked with stat, then opened with O_NONBLOCK and checked again with fstat on
// the open descriptor (so a file swapped in between is caught), all before a byte
// is read: a FIFO, a device, a socket or a folder is refused at once, and a file of
// more than `maxBytes` bytes is refused by its size (and, should it grow while it is
// read, once the limit is passed). On failure `out` is empty and `reason` says why
// without the path: the system's error text, "not a regular file (a named pipe)"
// and the like, or "larger than N bytes".
ReadStatus ReadRegularFile(const std::string& path, std::uint64_t maxBytes, Bytes& out, std::string& reason);

// The kind of a file system object that is not a regular file, for messages:
// "a folder", "a named pipe", "a character device", "a block device", "a socket",
// "a symbolic link"; "not a regular file" for a mode of another kind.
std::string FileKindText(unsigned mode);

// Replaces the file with `bytes` so that a reader sees either the old or the new
// content, never a mix: writes a temporary file in the same folder, flushes it to
// disk and renames it over the target. On failure the old file is untouched, the
// temporary file is removed, and `error` holds the system's error text.
//
// A symbolic link (or a chain of them, relative or absolute, even one that points to
// a file not made yet) is followed to the file it names: that file is written and
// the link stays. A target that exists and is not a regular file (device, FIFO,
// socket, folder) is refused without being opened, with "not a regular file (...)"
// naming its kind and, behind a link, its path.
bool WriteFileAtomic(const std::string& path, const Bytes& bytes, std::string& error);

// The stream's whole content from position 0 to its end; empty for no stream or on a
// read error. The stream is left positioned after the last byte read.
Bytes StreamToBytes(std::istream* stream);

// Empties the stream and writes the bytes into it; false when the stream failed
// (it may then hold part of the bytes).
bool BytesToStream(const Bytes& bytes, std::stringstream& stream);

} // namespace tarsel
