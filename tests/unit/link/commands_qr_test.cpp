// The QR code picture upload: its result codes, pauses and pieces.
#include "link/commands.h"
#include "commands_fixture.h"

#include <filesystem>
#include <fstream>

namespace tarsel::test {
namespace {

class QrTest : public LinkTest {
protected:
    QrTest()
    {
        file = (std::filesystem::temp_directory_path() /
                ("tarsel-qr-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png"))
                   .string();
        std::ofstream(file) << "picture";
    }
    ~QrTest() override { std::filesystem::remove(file); }

    OneBitConverter bytesOfSize(std::size_t n)
    {
        return [this, n](const std::string& f, int w, int h) {
            requested = {f, w, h};
            Bytes out(n, '\0');
            for (std::size_t i = 0; i < n; ++i)
                out[i] = static_cast<char>(i * 7);
            return out;
        };
    }

    std::string file;
    struct Request { std::string file; int width = 0, height = 0; } requested;
};

TEST(SplitQrPicture, CountDividedBy256PlusOnePieces)
{
    auto pieces = SplitQrPicture(Bytes(4608, 'x'));
    ASSERT_EQ(pieces.size(), 19u);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(pieces[static_cast<std::size_t>(i)].size(), 256u);
    EXPECT_TRUE(pieces[18].empty());

    pieces = SplitQrPicture(Bytes(300, 'y'));
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[1].size(), 44u);

    EXPECT_EQ(SplitQrPicture(Bytes(255, 'z')).size(), 1u);
    EXPECT_EQ(SplitQrPicture(Bytes(256, 'z')).size(), 2u);
}

// The picture code SendQrPicture gave; its outcome in `status` when asked.
std::uint8_t sendQr(Link& link, const std::string& file, std::uint8_t align, std::uint8_t slot,
                    const OneBitConverter& convert, Status* status = nullptr)
{
    std::uint8_t code = 0xFF;
    const Status outcome = SendQrPicture(link, file, align, slot, convert, code);
    if (status)
        *status = outcome;
    // The outcome's text is the box text of the code.
    EXPECT_EQ(outcome.ok(), code == 0);
    if (code != 0 && code != kQrCancelled)
        EXPECT_EQ(outcome.text, QrPictureErrorText(code));
    return code;
}

TEST_F(QrTest, SendsHeaderPiecesAndTrailerWithItsPauses)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    const double start = clock.nowMs();
    const std::uint8_t code = sendQr(link, file, 2, 0, bytesOfSize(4608));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(requested.file, file);
    EXPECT_EQ(requested.width, 192);
    EXPECT_EQ(requested.height, 192);

    // header + 18 full pieces (the empty 19th piece puts nothing on the line) + trailer
    ASSERT_EQ(line.writes.size(), 20u);
    EXPECT_EQ(line.writes.front().data, hexBytes({0x02, 0x07, 0x19, 0x02, 0x00}));
    EXPECT_EQ(line.writes.back().data, hexBytes({0x02, 0x07, 0x19, 0x00}));
    Bytes picture;
    for (std::size_t i = 1; i + 1 < line.writes.size(); ++i) {
        EXPECT_EQ(line.writes[i].data.size(), 256u);
        picture += line.writes[i].data;
    }
    EXPECT_EQ(picture, bytesOfSize(4608)(file, 192, 192));

    EXPECT_DOUBLE_EQ(line.writes.front().at - start, 100);
    EXPECT_DOUBLE_EQ(line.writes[1].at - start, 200);
    EXPECT_DOUBLE_EQ(line.writes.back().at - start, 300);
    EXPECT_DOUBLE_EQ(clock.nowMs() - start, 1300);
    EXPECT_TRUE(cmd.isOpen());
    EXPECT_TRUE(traces.empty());
}

TEST_F(QrTest, ALastPartialPieceIsWritten)
{
    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    EXPECT_EQ(sendQr(link, file, 3, 5, bytesOfSize(600)), 0);
    ASSERT_EQ(line.writes.size(), 5u);
    EXPECT_EQ(line.writes[0].data, hexBytes({0x02, 0x07, 0x19, 0x03, 0x05}));
    EXPECT_EQ(line.writes[3].data.size(), 88u);
}

TEST_F(QrTest, ResultCodes)
{
    // Missing file: 21 before anything else, even with the port closed.
    Status status;
    EXPECT_EQ(sendQr(link, file + ".missing", 1, 0, bytesOfSize(10), &status), 21);
    EXPECT_EQ(status.code, Code::BadInput);
    EXPECT_EQ(sendQr(link, "", 1, 0, bytesOfSize(10)), 21);
    // Port closed: 13.
    EXPECT_EQ(sendQr(link, file, 1, 0, bytesOfSize(10), &status), 13);
    EXPECT_EQ(status.code, Code::PortError);
    EXPECT_TRUE(line.writes.empty());
    EXPECT_TRUE(cmd.openedNames.empty());  // never opens the port itself

    ASSERT_EQ(cmd.open(link.PortName, link.BaudRate).code, kOpenOk);
    // Conversion gave nothing: 19.
    EXPECT_EQ(sendQr(link, file, 1, 0, bytesOfSize(0)), 19);
    EXPECT_EQ(sendQr(link, file, 1, 0, OneBitConverter()), 19);
    EXPECT_TRUE(line.writes.empty());

    // Header write fails: 16.
    line.failWrites = true;
    EXPECT_EQ(sendQr(link, file, 1, 0, bytesOfSize(10), &status), 16);
    EXPECT_EQ(status.code, Code::PortError);
    line.failWrites = false;

    // A picture piece fails: 17, and no trailer claims success.
    line.onWrite = [](FakeLine& l, const Bytes& data) {
        if (data.size() == 5)
            l.failWrites = true;
    };
    EXPECT_EQ(sendQr(link, file, 1, 0, bytesOfSize(10)), 17);
    EXPECT_EQ(line.writes.size(), 1u);
    line.failWrites = false;

    // Trailer write fails: 18.
    line.writes.clear();
    line.onWrite = [](FakeLine& l, const Bytes& data) {
        if (data.size() == 10)
            l.failWrites = true;
    };
    EXPECT_EQ(sendQr(link, file, 1, 0, bytesOfSize(10)), 18);
    EXPECT_EQ(line.writes.size(), 2u);
    EXPECT_TRUE(cmd.isOpen());
}

} // namespace
} // namespace tarsel::test
