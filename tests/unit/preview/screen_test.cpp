// The screen's areas, colours and pictures: what the display shows where, sampled
// at pixels whose colour is known.
#include "preview_fixture.h"

#include <thread>
#include <vector>

namespace tarsel::preview::test {
namespace {

TEST(PreviewScreen, EachModelGetsItsScreenWithTheRecordsColoursInEveryArea)
{
    for (int model = 0; model <= 6; ++model) {
        SCOPED_TRACE(model);
        Input in;
        in.info = blankRecord();
        in.modelIndex = model;
        // Only the low 16 bits of a colour field count (a document may put any
        // integer there).
        in.info.font_Background_color_565 = 0x7FFF0000 | kMainBack;
        in.info.tp_back_rgb_565 = -65536 + kHeaderBack;
        const Image img = RenderScreen(in);
        const Layout l = LayoutFor(model);
        const PixelSize expected = model < 2 ? PixelSize{480, 272} : PixelSize{800, 480};
        ASSERT_EQ(img.width, expected.width);
        ASSERT_EQ(img.height, expected.height);
        EXPECT_EQ(l.screen, expected);

        EXPECT_EQ(centreOf(img, l.header), shown565(kHeaderBack));
        // An empty title logo slot shows the header's background.
        EXPECT_EQ(centreOf(img, l.titleLogo), shown565(kHeaderBack));
        EXPECT_EQ(centreOf(img, l.main), shown565(kMainBack));
        EXPECT_EQ(centreOf(img, l.footer), shown565(kFooterBack));
        // The areas meet without gap or overlap and fill the screen.
        EXPECT_EQ(l.header.left, l.titleLogo.right());
        EXPECT_EQ(l.header.right(), expected.width);
        EXPECT_EQ(l.main.top, l.header.bottom());
        EXPECT_EQ(l.footer.top, l.main.bottom());
        EXPECT_EQ(l.footer.bottom(), expected.height);
    }
    // The slot sizes of the two screens.
    EXPECT_EQ(LayoutFor(6).titleLogo, (PixelRect{0, 0, 240, 80}));
    EXPECT_EQ(LayoutFor(6).header, (PixelRect{240, 0, 560, 80}));
    EXPECT_EQ(LayoutFor(6).main, (PixelRect{0, 80, 800, 360}));
    EXPECT_EQ(LayoutFor(1).titleLogo, (PixelRect{0, 0, 120, 40}));
    EXPECT_EQ(LayoutFor(1).header, (PixelRect{120, 0, 360, 40}));
}

TEST(PreviewScreen, HeaderShowsTheHeadPictureAtMode9AndTheTextOtherwise)
{
    // A head picture in two halves, each pixel of the left half a different colour.
    auto head = std::make_shared<Image>(560, 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 560; ++x)
            head->setPixel(x, y, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), x < 280 ? 10 : 200);
    Input in;
    in.info = blankRecord();
    in.info.wel_mess1 = "HEADER TEXT HERE    ";
    in.slotPictures[75] = head;
    const Layout l = LayoutFor(6);

    in.info.tp_mode = 9;
    const Image withPicture = RenderScreen(in);
    for (int y = 0; y < 80; y += 13)
        for (int x = 0; x < 560; x += 7)
            ASSERT_EQ(pixelAt(withPicture, l.header.left + x, y), (Px{x & 0xFF, y, x < 280 ? 10 : 200}))
                << x << "," << y;

    in.info.tp_mode = 10;
    const Image withText = RenderScreen(in);
    EXPECT_EQ(pixelAt(withText, l.header.left, 0), shown565(kHeaderBack));
    int textPixels = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = l.header.left; x < l.header.right(); ++x)
            textPixels += pixelAt(withText, x, y) == shown565(kHeaderText);
    EXPECT_GT(textPixels, 200);

    // A head picture of the wrong size is stretched over the area: the halves of a
    // 280 × 40 picture cover the halves of the area.
    in.info.tp_mode = 9;
    auto small = std::make_shared<Image>(280, 40, 0, 0, 255);
    for (int y = 0; y < 40; ++y)
        for (int x = 140; x < 280; ++x)
            small->setPixel(x, y, 0, 0, 255);
    in.slotPictures[75] = small;
    const Image stretched = RenderScreen(in);
    EXPECT_EQ(pixelAt(stretched, l.header.left + 100, 40), (Px{255, 0, 0}));
    EXPECT_EQ(pixelAt(stretched, l.header.left + 460, 40), (Px{0, 0, 255}));
}

TEST(PreviewScreen, LogosTakeTheirAreas)
{
    Input in;
    in.info = blankRecord();
    in.slotPictures[73] = solid(800, 480, 1, 2, 3);
    in.slotPictures[74] = solid(240, 80, 40, 50, 60);
    const Layout l = LayoutFor(6);

    const Image standby = RenderScreen(in);
    EXPECT_TRUE(allPixels(standby, l.titleLogo, Px{40, 50, 60}));
    EXPECT_EQ(centreOf(standby, l.main), shown565(kMainBack));

    in.startup = true;
    EXPECT_TRUE(allPixels(RenderScreen(in), l.startupLogo, Px{1, 2, 3}));
    // Without a start-up logo the start-up phase is dark.
    in.slotPictures.erase(73);
    EXPECT_TRUE(allPixels(RenderScreen(in), l.startupLogo, Px{0, 0, 0}));
}

TEST(PreviewScreen, CarouselPlaysTheTickedPicturesThatExistInTurn)
{
    Input in;
    in.info = blankRecord();
    in.info.into_lun_bo = 5;
    in.info.lun_time = 3;
    // Ticked: 1 (slot 76), 2 (slot 77, empty), 3 (slot 78); picture 5 is not ticked.
    in.info.pic_reg = 0b0111;
    in.slotPictures[76] = solid(800, 480, 255, 0, 0);
    in.slotPictures[78] = solid(800, 480, 0, 255, 0);
    in.slotPictures[80] = solid(800, 480, 0, 0, 255);
    const Layout l = LayoutFor(6);
    const Px red{255, 0, 0}, green{0, 255, 0}, text = shown565(kMainBack);

    const std::vector<std::pair<double, Px>> expected = {
        {0, text}, {4.99, text}, {5, red}, {7.99, red}, {8, green}, {10.9, green}, {11, red}, {14, green}, {305, red},
    };
    for (const auto& [t, colour] : expected) {
        in.atSeconds = t;
        const Image img = RenderScreen(in);
        // The whole main area, and only it: header and footer stay.
        EXPECT_TRUE(allPixels(img, l.main, colour)) << "t = " << t;
        EXPECT_EQ(centreOf(img, l.footer), shown565(kFooterBack)) << "t = " << t;
    }

    // Nothing left to play: the main text stays.
    in.info.pic_reg = 0b0010;
    in.atSeconds = 6;
    EXPECT_EQ(centreOf(RenderScreen(in), l.main), text);
    // No carousel at 0 s of standby time.
    in.info.pic_reg = 0b0001;
    in.info.into_lun_bo = 0;
    in.atSeconds = 100;
    EXPECT_EQ(centreOf(RenderScreen(in), l.main), text);
    // A play interval of 0 counts as 1 s.
    in.info.into_lun_bo = 1;
    in.info.lun_time = 0;
    in.info.pic_reg = 0b0101;
    in.atSeconds = 2.5;
    EXPECT_EQ(centreOf(RenderScreen(in), l.main), green);
}

TEST(PreviewScreen, WhatTheDisplayWasSentTakesTheMainArea)
{
    Input in;
    in.info = blankRecord();
    in.info.main_str = "MAIN TEXT MAIN TEXT MAIN TEXT MAIN TEXT ";
    in.info.into_lun_bo = 1;
    in.info.pic_reg = 1;
    in.slotPictures[76] = solid(800, 480, 255, 0, 0);
    in.slotPictures[79] = solid(800, 480, 0, 0, 255);
    in.atSeconds = 30; // the carousel would be playing
    const Layout l = LayoutFor(6);
    const Px back = shown565(kMainBack);

    in.sent = Sent::Cleared;
    EXPECT_TRUE(allPixels(RenderScreen(in), l.main, back));

    in.sent = Sent::Picture;
    in.pictureNumber = 4; // slot 79
    EXPECT_TRUE(allPixels(RenderScreen(in), l.main, Px{0, 0, 255}));
    in.pictureNumber = 5; // an empty slot
    EXPECT_TRUE(allPixels(RenderScreen(in), l.main, back));

    // A 192 × 192 QR bitmap whose top-left module (8 × 8) is black, the rest white.
    in.sent = Sent::QrCode;
    in.qrCode.size = 192;
    in.qrCode.bits.assign(24 * 192, '\0');
    for (int y = 0; y < 8; ++y)
        in.qrCode.bits[static_cast<std::size_t>(24 * y)] = '\xFF';
    const int top = l.main.top + (360 - 192) / 2;
    const Px black{0, 0, 0}, white{255, 255, 255};
    for (int align : {1, 2, 3}) {
        SCOPED_TRACE(align);
        in.qrAlign = align;
        const Image img = RenderScreen(in);
        const int left = align == 1 ? 0 : align == 2 ? (800 - 192) / 2 : 800 - 192;
        EXPECT_TRUE(allPixels(img, {left, top, 8, 8}, black));
        EXPECT_TRUE(allPixels(img, {left + 8, top, 184, 8}, white));
        EXPECT_TRUE(allPixels(img, {left, top + 8, 192, 184}, white));
        EXPECT_EQ(pixelAt(img, left, top - 1), back);
        if (align != 1) {
            EXPECT_EQ(pixelAt(img, left - 1, top), back);
        }
        if (align != 3) {
            EXPECT_EQ(pixelAt(img, left + 192, top), back);
        }
    }

    // The test text is drawn like a main text of two lines.
    in.sent = Sent::Text;
    in.sentText = "1234567890ABCDEFGHIJ";
    Input asMainText;
    asMainText.info = blankRecord();
    asMainText.info.main_str = in.sentText;
    EXPECT_TRUE(samePixels(RenderScreen(in), RenderScreen(asMainText), l.main));
}

TEST(PreviewScreen, RendersOnSeveralThreadsAtOnceAsOnOne)
{
    std::vector<Input> inputs(4);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        inputs[i].info = blankRecord();
        inputs[i].modelIndex = static_cast<int>(i) * 2;
        // Different sizes and characters on each thread, so that glyphs are made
        // while other threads read them.
        inputs[i].info.main_str = std::string("ABCDEFGHIJKLMNOPQRST").substr(i, 12);
        inputs[i].info.wel_mess2 = "the quick brown fox " + std::to_string(i);
        inputs[i].atSeconds = 0.7 * static_cast<double>(i);
    }
    std::vector<Image> together(inputs.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        threads.emplace_back([&, i] {
            for (int k = 0; k < 5; ++k)
                together[i] = RenderScreen(inputs[i]);
        });
    for (auto& t : threads)
        t.join();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const Image alone = RenderScreen(inputs[i]);
        EXPECT_TRUE(samePixels(together[i], alone, {0, 0, alone.width, alone.height})) << i;
    }
}

} // namespace
} // namespace tarsel::preview::test
