#include "transfer/frames.h"

#include "transfer/crc16.h"
#include "util/hex.h"

#include <algorithm>

namespace tarsel {

Bytes BigEndian32(std::uint32_t value)
{
    Bytes out(4, '\0');
    out[0] = static_cast<char>((value >> 24) & 0xFF);
    out[1] = static_cast<char>((value >> 16) & 0xFF);
    out[2] = static_cast<char>((value >> 8) & 0xFF);
    out[3] = static_cast<char>(value & 0xFF);
    return out;
}

std::uint32_t ReadBigEndian32(const Bytes& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | (offset + i < bytes.size() ? byteAt(bytes, offset + i) : 0u);
    return value;
}

Bytes DownloadServiceSetupFrame(std::uint32_t flashAddress, std::uint32_t fileLength)
{
    return bytesOf({0x02, 0x10}) + BigEndian32(flashAddress) + BigEndian32(fileLength);
}

Bytes StartDownloadFrame() { return bytesOf({0x02, 0x07, 0x27, 0x27, 0x27}); }

Bytes UpgradeSyncFrame() { return bytesOf({0x07, 0x07, 0x07, 0x07}); }

Bytes AnnounceFrame(std::uint32_t fileLength, std::uint16_t fileCrc)
{
    Bytes frame = "ACT=1,L=" + IntToHexDigits(2, 3) + ",";
    frame += BigEndian32(fileLength);
    frame += Crc16Bytes(fileCrc);
    return Crc16Append(frame);
}

Bytes BlockData(const Bytes& file, std::uint32_t blockNumber)
{
    const std::uint64_t start = static_cast<std::uint64_t>(blockNumber) * kBlockSize;
    if (start >= file.size())
        return {};
    return file.substr(static_cast<std::size_t>(start), kBlockSize);
}

Bytes BlockFrame(const Bytes& numberBytes, const Bytes& data)
{
    Bytes frame;
    frame.reserve(kBlockFrameSize);
    frame += "ACT=0,L=";
    frame += IntToHexDigits(static_cast<std::uint32_t>(kBlockSize), 3); // "100"
    frame += ',';
    frame += numberBytes;
    frame.append(data, 0, std::min(data.size(), kBlockSize));
    frame.append(kBlockSize - std::min(data.size(), kBlockSize), '\0');
    const std::uint16_t crc = Crc16(frame);
    frame.push_back(static_cast<char>(crc >> 8));
    frame.push_back(static_cast<char>(crc & 0xFF));
    return frame;
}

Bytes MakeFileFrame(const std::string& deviceFileName, const std::string& lengthDecimal,
                    const std::string& crcDecimal)
{
    return bytesOf({0x02, 0x07, 0x05, 0x01}) + deviceFileName + "," + lengthDecimal + "," + crcDecimal + "\n";
}

int BlockCount(std::size_t fileLength) { return static_cast<int>(fileLength / kBlockSize + 1); }

DeviceFrameKind FrameKind(const Bytes& frame)
{
    if (frame.size() < kDeviceFrameSize || frame.compare(0, 3, "ACT") != 0)
        return DeviceFrameKind::Other;
    switch (frame[4]) {
    case '0': return DeviceFrameKind::BlockRequest;
    case '9': return DeviceFrameKind::EndOfTransfer;
    default: return DeviceFrameKind::Other;
    }
}

Bytes FrameNumberBytes(const Bytes& frame) { return frame.substr(12, 4); }

std::uint32_t FrameBlockNumber(const Bytes& frame) { return ReadBigEndian32(frame, 12); }

std::uint16_t FrameEndCrc(const Bytes& frame)
{
    return static_cast<std::uint16_t>((byteAt(frame, 14) << 8) | byteAt(frame, 15));
}

void FrameAssembler::feed(const char* data, std::size_t size) { m_buffer.append(data, size); }

std::optional<Bytes> FrameAssembler::next()
{
    while (m_buffer.size() - m_start >= kDeviceFrameSize) {
        if (m_buffer.compare(m_start, 3, "ACT") != 0) {
            ++m_start; // noise before a frame
            ++m_discarded;
            continue;
        }
        const char type = m_buffer[m_start + 4];
        if (type == '0' || type == '9') {
            Bytes frame = m_buffer.substr(m_start, kDeviceFrameSize);
            m_start += kDeviceFrameSize;
            compact();
            return frame;
        }
        ++m_start; // "ACT" with a type we never act on: resynchronise
        ++m_discarded;
    }
    compact();
    return std::nullopt;
}

void FrameAssembler::clear()
{
    m_buffer.clear();
    m_start = 0;
}

void FrameAssembler::compact()
{
    if (m_start == 0)
        return;
    if (m_start >= m_buffer.size())
        m_buffer.clear();
    else
        m_buffer.erase(0, m_start);
    m_start = 0;
}

FrameAction DecideFrame(const Bytes& frame, const Bytes& fileData, std::uint16_t fileCrc)
{
    FrameAction action;
    switch (FrameKind(frame)) {
    case DeviceFrameKind::BlockRequest:
        action.kind = FrameAction::SendBlock;
        action.numberBytes = FrameNumberBytes(frame);
        action.blockNumber = FrameBlockNumber(frame);
        action.data = BlockData(fileData, action.blockNumber);
        break;
    case DeviceFrameKind::EndOfTransfer:
        action.kind = FrameAction::EndOfTransfer;
        action.deviceCrc = FrameEndCrc(frame);
        action.crcMatches = action.deviceCrc == fileCrc;
        break;
    case DeviceFrameKind::Other:
        break;
    }
    return action;
}

} // namespace tarsel
