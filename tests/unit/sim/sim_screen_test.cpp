// The virtual display's screen: what it was sent and what it stored, drawn.
#include "pictures/convert.h"
#include "pictures/image.h"
#include "sim/screen/sim_screen.h"
#include "support/virtual_link.h"
#include "transfer/catalogue.h"

#include <gtest/gtest.h>

namespace tarsel::test {
namespace {

Bytes frame(std::initializer_list<std::uint8_t> bytes) { return bytesOf(bytes); }

TEST(SimScreen, WhatTheDisplayWasSentAndStoredIsWhatItShows)
{
    sim::DisplayCore core(displayConfig("KT310--IIA", 9600));
    const auto changes = core.screenChanges();
    // A header colour sent: the header's background changes.
    core.receive(frame({0x02, 0x07, 0x0C, 0xF8, 0x00, 0x00}), 0); // red
    EXPECT_GT(core.screenChanges(), changes);
    Image screen = preview::RenderScreen(sim::ScreenInput(sim::CopyHeldState(core), 0));
    ASSERT_EQ(screen.width, 480);
    ASSERT_EQ(screen.height, 272);
    const auto* header = screen.at(479, 1);
    EXPECT_EQ(header[2], 0xF8); // red
    EXPECT_EQ(header[0], 0x00);

    // A text sent takes the main area; a clear empties it.
    core.receive("HELLO", 10);
    core.tick(100);
    sim::HeldState held = sim::CopyHeldState(core);
    EXPECT_EQ(held.shown.what, sim::Shown::What::Text);
    EXPECT_EQ(held.shown.text, "HELLO");
    EXPECT_EQ(sim::ScreenInput(held, 0).sent, preview::Sent::Text);
    core.receive(frame({0x0C}), 200);
    EXPECT_EQ(sim::CopyHeldState(core).shown.what, sim::Shown::What::Cleared);

    // A QR code from a text gets modules.
    core.receive(Bytes("\x02\x07\x1D\x01\x00" "https://x", 14) + '\0', 300);
    const preview::Input qr = sim::ScreenInput(sim::CopyHeldState(core), 0);
    EXPECT_EQ(qr.sent, preview::Sent::QrCode);
    EXPECT_EQ(qr.qrAlign, 1);
    EXPECT_GT(qr.qrCode.size, 80);
}

TEST(SimScreen, AStoredTitleLogoIsItsSlotsPicture)
{
    sim::DisplayCore core(displayConfig("KT310--IIA", 9600));
    Image logo(120, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x)
            logo.setPixel(x, y, 0, 248, 0);
    sim::HeldState held = sim::CopyHeldState(core);
    held.blocks[static_cast<std::uint32_t>(std::stoul(FlashAddressHex(78), nullptr, 16))] = BitmapToRgb565Bytes(logo, 120, 40);
    const preview::Input input = sim::ScreenInput(held, 0);
    ASSERT_TRUE(input.slotPictures.count(74));
    const Image screen = preview::RenderScreen(input);
    const auto* p = screen.at(60, 20); // the title logo's area
    EXPECT_EQ(p[1], 248);
    EXPECT_EQ(p[2], 0);
}

} // namespace
} // namespace tarsel::test
