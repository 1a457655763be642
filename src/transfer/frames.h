// The file transfer frames: pure builders for what the PC writes, field readers for
// the 16-byte frames the display sends, and the assembler that cuts those frames out
// of the received byte stream. No I/O here.
#pragma once

#include "util/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tarsel {

inline constexpr std::size_t kBlockSize = 256;        // data bytes per block
inline constexpr std::size_t kDeviceFrameSize = 16;   // block request and end frame
inline constexpr std::size_t kBlockFrameSize = 274;   // 12 + 4 + 256 + 2
inline constexpr std::size_t kSetupFrameSize = 10;

// Big-endian helpers for the numbers inside frames.
Bytes BigEndian32(std::uint32_t value);
std::uint32_t ReadBigEndian32(const Bytes& bytes, std::size_t offset);

// 02 10, flash address (4 bytes), file length (4 bytes).
Bytes DownloadServiceSetupFrame(std::uint32_t flashAddress, std::uint32_t fileLength);
// 02 07 27 27 27: the display starts pulling blocks.
Bytes StartDownloadFrame();
// 07 07 07 07: written until the firmware loader answers "A".
Bytes UpgradeSyncFrame();
// "ACT=1,L=002," + length (4) + file CRC (2, high first) + frame CRC (2): 20 bytes.
Bytes AnnounceFrame(std::uint32_t fileLength, std::uint16_t fileCrc);
// Bytes 256·n .. 256·n+255 of the file; shorter near the end, empty past it.
Bytes BlockData(const Bytes& file, std::uint32_t blockNumber);
// "ACT=0,L=100," + the request's 4 number bytes + data padded with 00 to 256 + CRC.
// Data longer than 256 bytes is cut to 256.
Bytes BlockFrame(const Bytes& numberBytes, const Bytes& data);
// 02 07 05 01, name, ",", length, ",", crc, 0A (length and crc as decimal texts).
Bytes MakeFileFrame(const std::string& deviceFileName, const std::string& lengthDecimal,
                    const std::string& crcDecimal);

// Progress maximum of a file, and the number of 256-byte pieces the stream writes:
// length div 256 + 1 (a multiple of 256 ends with an empty piece).
int BlockCount(std::size_t fileLength);

// The kinds of 16-byte device frame, told apart by the type digit (byte 5).
enum class DeviceFrameKind { BlockRequest, EndOfTransfer, Other };
DeviceFrameKind FrameKind(const Bytes& frame);
// Bytes 13..16 of a block request (1-based): the block number, as sent.
Bytes FrameNumberBytes(const Bytes& frame);
std::uint32_t FrameBlockNumber(const Bytes& frame);
// Bytes 15..16 of an end frame: the display's CRC of the received file.
std::uint16_t FrameEndCrc(const Bytes& frame);

// Cuts the display's 16-byte frames out of the received byte stream. Bytes before
// "ACT" are dropped one at a time; a frame split over several reads is joined once
// 16 bytes are present. next() hands out one frame per call; call it until it
// returns nothing. A frame with "ACT" but an unknown type digit is treated as noise
// (its first byte dropped), so the stream resynchronises instead of stalling.
class FrameAssembler {
public:
    void feed(const Bytes& bytes) { feed(bytes.data(), bytes.size()); }
    void feed(const char* data, std::size_t size);
    std::optional<Bytes> next();
    void clear();
    std::size_t buffered() const { return m_buffer.size() - m_start; }
    std::size_t discarded() const { return m_discarded; }

private:
    void compact();

    Bytes m_buffer;
    std::size_t m_start = 0;
    std::size_t m_discarded = 0;
};

// What to do with one complete device frame (the decision, without the I/O).
struct FrameAction {
    enum Kind { SendBlock, EndOfTransfer, Ignore };
    Kind kind = Ignore;
    // SendBlock: the request's number bytes, the number, and the (unpadded) data.
    Bytes numberBytes;
    std::uint32_t blockNumber = 0;
    Bytes data;
    // EndOfTransfer: the display's CRC and whether it equals ours.
    std::uint16_t deviceCrc = 0;
    bool crcMatches = false;
};

FrameAction DecideFrame(const Bytes& frame, const Bytes& fileData, std::uint16_t fileCrc);

} // namespace tarsel
