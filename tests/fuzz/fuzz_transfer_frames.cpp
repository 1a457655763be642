// The transfer frame assembler and the decision on each frame, fed the display's
// byte stream in pieces of the sizes the input chooses. Properties: every frame
// handed out is a 16-byte "ACT" frame of a known type; no byte is lost or counted
// twice (frames, dropped noise and what is still buffered add up to what was fed);
// a block request is answered with at most 256 bytes of the file at its number.
#include "fuzz_check.h"

#include "transfer/crc16.h"
#include "transfer/frames.h"

#include <cstddef>
#include <cstdint>

using namespace tarsel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the piece size (1..256), the rest is the stream.
    const std::size_t piece = static_cast<std::size_t>(data[0]) + 1;
    const char* stream = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    static const Bytes file = [] {
        Bytes f(1000, '\0');
        for (std::size_t i = 0; i < f.size(); ++i)
            f[i] = static_cast<char>(i * 7);
        return f;
    }();
    static const std::uint16_t fileCrc = Crc16(file);

    FrameAssembler assembler;
    std::size_t frames = 0;
    for (std::size_t at = 0; at < length; at += piece) {
        const std::size_t n = std::min(piece, length - at);
        assembler.feed(stream + at, n);
        while (auto frame = assembler.next()) {
            ++frames;
            TARSEL_FUZZ_CHECK(frame->size() == kDeviceFrameSize);
            TARSEL_FUZZ_CHECK(frame->compare(0, 3, "ACT") == 0);
            const FrameAction action = DecideFrame(*frame, file, fileCrc);
            TARSEL_FUZZ_CHECK(action.kind != FrameAction::Ignore);
            if (action.kind == FrameAction::SendBlock) {
                TARSEL_FUZZ_CHECK(action.data.size() <= kBlockSize);
                TARSEL_FUZZ_CHECK(action.data == BlockData(file, action.blockNumber));
                const Bytes block = BlockFrame(action.numberBytes, action.data);
                TARSEL_FUZZ_CHECK(block.size() == kBlockFrameSize);
                TARSEL_FUZZ_CHECK(block.compare(12, 4, action.numberBytes) == 0);
            } else {
                TARSEL_FUZZ_CHECK(action.crcMatches == (action.deviceCrc == fileCrc));
            }
        }
        TARSEL_FUZZ_CHECK(assembler.buffered() < kDeviceFrameSize);
    }
    TARSEL_FUZZ_CHECK(frames * kDeviceFrameSize + assembler.discarded() + assembler.buffered() == length);
    return 0;
}
