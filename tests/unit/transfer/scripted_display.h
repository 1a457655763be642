// A display played in virtual time on a FakeLine: answers the model query, the
// version query, the download service setup, the start and announce frames with
// block requests, block frames with the next request or the end frame, the firmware
// sync, make-file and the file stream. Faults are switched on per test.
#pragma once

#include "support/fake_port.h"
#include "transfer/crc16.h"
#include "transfer/frames.h"

#include <map>
#include <string>

namespace tarsel::test {

class ScriptedDisplay {
public:
    ScriptedDisplay(FakeLine& line, std::string modelName) : model(std::move(modelName)), m_line(line)
    {
        line.onWrite = [this](FakeLine& l, const Bytes& data) { onWrite(l, data); };
    }

    std::string model;
    int version = 12;
    double answerDelayMs = 0.5;

    // Faults.
    Bytes garbageBeforeRequests;     // sent before every block request
    bool splitRequests = false;      // each request in two pieces
    int silentAfterBlocks = -1;      // stop answering after this many block frames
    int hangUpAfterBlocks = -1;      // hang the line up after this many block frames
    bool wrongEndCrc = false;        // the end frame carries a wrong CRC
    int wrongEndCrcForItem = -1;     // ... only for this item (counted from 0)
    bool extraEchoByte = false;      // the setup echo carries an 11th byte
    bool refuseMakeFile = false;
    bool wrongFileCrc = false;
    int syncGarbage = 0;             // noise bytes before the loader's "A"

    // What the display stored: by flash address and by file name.
    std::map<std::uint32_t, Bytes> byAddress;
    std::map<std::string, Bytes> byName;
    Bytes firmware;
    int blockFramesReceived = 0;
    int badBlockFrames = 0;
    int itemsCompleted = 0;
    int announceFrames = 0;
    int setupFrames = 0;

private:
    enum class Mode { Idle, Blocks, Stream };

    void send(FakeLine& line, const Bytes& bytes, double extraMs = 0) { line.answer(bytes, answerDelayMs + extraMs); }

    void request(FakeLine& line, std::uint32_t n)
    {
        Bytes frame = "ACT=0,L=100," + BigEndian32(n);
        if (!garbageBeforeRequests.empty())
            send(line, garbageBeforeRequests);
        if (splitRequests) {
            send(line, frame.substr(0, 7));
            send(line, frame.substr(7), 0.2);
        } else {
            send(line, frame);
        }
    }

    void endFrame(FakeLine& line)
    {
        std::uint16_t crc = Crc16(m_received);
        if (wrongEndCrc || wrongEndCrcForItem == itemsCompleted)
            crc ^= 0x5555;
        Bytes frame = "ACT=9,L=002,\x01\x02";
        frame += static_cast<char>(crc >> 8);
        frame += static_cast<char>(crc & 0xFF);
        send(line, frame);
        if (m_firmware)
            firmware = m_received;
        else
            byAddress[m_address] = m_received;
        ++itemsCompleted;
        m_mode = Mode::Idle;
    }

    void onWrite(FakeLine& line, const Bytes& data)
    {
        if (m_mode == Mode::Stream && !data.empty()) {
            m_received += data;
            if (m_received.size() >= m_length) {
                m_received.resize(m_length);
                byName[m_name] = m_received;
                std::uint16_t crc = Crc16(m_received);
                if (wrongFileCrc)
                    crc ^= 1;
                send(line, std::to_string(crc) + "\n", 20);
                ++itemsCompleted;
                m_mode = Mode::Idle;
            }
            return;
        }
        if (m_mode == Mode::Blocks && data.size() == kBlockFrameSize && data.compare(0, 5, "ACT=0") == 0) {
            ++blockFramesReceived;
            if (Crc16(data.substr(0, data.size() - 2)) !=
                ((byteAt(data, 272) << 8) | byteAt(data, 273))) {
                ++badBlockFrames;
                return;
            }
            const std::uint32_t n = ReadBigEndian32(data, 12);
            const Bytes payload = data.substr(16, kBlockSize);
            if (m_received.size() < (n + 1) * kBlockSize)
                m_received.resize((n + 1) * kBlockSize);
            m_received.replace(n * kBlockSize, kBlockSize, payload);
            if (hangUpAfterBlocks >= 0 && blockFramesReceived >= hangUpAfterBlocks) {
                line.hangUp = true;
                return;
            }
            if (silentAfterBlocks >= 0 && blockFramesReceived >= silentAfterBlocks)
                return;
            if ((n + 1) * kBlockSize >= m_length) {
                m_received.resize(m_length);
                endFrame(line);
            } else {
                request(line, n + 1);
            }
            return;
        }
        if (data == bytesOf({0x02, 0x07, 0x16, 0x01})) {
            send(line, model + std::string(1, '\0'));
        } else if (data == bytesOf({0x02, 0x07, 0x16, 0x02})) {
            send(line, Bytes(1, static_cast<char>(version)));
        } else if (data.size() == 10 && byteAt(data, 0) == 0x02 && byteAt(data, 1) == 0x10) {
            ++setupFrames;
            m_address = ReadBigEndian32(data, 2);
            m_length = ReadBigEndian32(data, 6);
            m_firmware = false;
            send(line, extraEchoByte ? data + "x" : data);
        } else if (data == StartDownloadFrame()) {
            m_mode = Mode::Blocks;
            m_received.clear();
            request(line, 0);
        } else if (data == UpgradeSyncFrame()) {
            if (m_syncSent < syncGarbage) {
                send(line, "?");
                ++m_syncSent;
            } else if (m_syncSent == syncGarbage) {
                send(line, "A");
                ++m_syncSent;
            }
        } else if (data.size() == 20 && data.compare(0, 8, "ACT=1,L=") == 0) {
            ++announceFrames;
            m_length = ReadBigEndian32(data, 12);
            m_firmware = true;
            m_mode = Mode::Blocks;
            m_received.clear();
            request(line, 0);
        } else if (data.size() > 4 && data.compare(0, 4, bytesOf({0x02, 0x07, 0x05, 0x01})) == 0) {
            const Bytes body = data.substr(4, data.size() - 5);
            const auto c1 = body.find(','), c2 = body.rfind(',');
            m_name = body.substr(0, c1);
            m_length = std::stoul(body.substr(c1 + 1, c2 - c1 - 1));
            m_received.clear();
            if (refuseMakeFile) {
                send(line, "ERR");
            } else {
                send(line, "OK\r\n");
                m_mode = m_length > 0 ? Mode::Stream : Mode::Idle;
            }
        }
    }

    FakeLine& m_line;
    Mode m_mode = Mode::Idle;
    std::uint32_t m_address = 0;
    std::size_t m_length = 0;
    bool m_firmware = false;
    std::string m_name;
    Bytes m_received;
    int m_syncSent = 0;
};

} // namespace tarsel::test
