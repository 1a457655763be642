#include "sim/screen/sim_screen.h"

#include "link/models.h"
#include "pictures/codecs.h"
#include "pictures/image.h"
#include "pictures/slots.h"
#include "settings/settings_document.h"
#include "settings/tables.h"
#include "transfer/catalogue.h"
#include "util/codepage.h"
#include "util/files.h"

#include <qrencode.h>

#include <memory>

namespace tarsel::sim {

namespace {

// Raw RGB565 as the display stores it: low byte first, rows top to bottom.
std::shared_ptr<const Image> fromRgb565(const Bytes& bytes, int width, int height)
{
    if (width <= 0 || height <= 0 || bytes.size() < static_cast<std::size_t>(width) * height * 2)
        return nullptr;
    auto image = std::make_shared<Image>(width, height);
    std::size_t i = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, i += 2) {
            const unsigned word = static_cast<std::uint8_t>(bytes[i]) | (static_cast<std::uint8_t>(bytes[i + 1]) << 8);
            image->setPixel(x, y, static_cast<std::uint8_t>((word >> 11) << 3),
                            static_cast<std::uint8_t>(((word >> 5) & 0x3F) << 2), static_cast<std::uint8_t>((word & 0x1F) << 3));
        }
    return image;
}

std::shared_ptr<const Image> fromJpeg(const Bytes& bytes)
{
    auto image = std::make_shared<Image>();
    std::string error;
    if (!DecodeJpeg(bytes, *image, error))
        return nullptr;
    return image;
}

} // namespace

HeldState CopyHeldState(const DisplayCore& core)
{
    HeldState held;
    held.model = core.model().name;
    held.settings = core.settings();
    held.blocks = core.blocks();
    held.files = core.files();
    held.shown = core.shown();
    return held;
}

preview::QrBitmap QrFromText(const Bytes& text)
{
    preview::QrBitmap bitmap;
    if (text.empty())
        return bitmap;
    QRcode* code = QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()),
                                     0, QR_ECLEVEL_M);
    if (!code)
        return bitmap;
    constexpr int kScale = 4;
    constexpr int kQuiet = 2; // modules of white around it
    const int modules = code->width + 2 * kQuiet;
    bitmap.size = modules * kScale;
    const int rowBytes = (bitmap.size + 7) / 8;
    bitmap.bits.assign(static_cast<std::size_t>(rowBytes) * bitmap.size, '\0');
    for (int y = 0; y < bitmap.size; ++y) {
        for (int x = 0; x < bitmap.size; ++x) {
            const int mx = x / kScale - kQuiet;
            const int my = y / kScale - kQuiet;
            const bool black = mx >= 0 && my >= 0 && mx < code->width && my < code->width &&
                               (code->data[my * code->width + mx] & 1);
            if (black)
                bitmap.bits[static_cast<std::size_t>(y) * rowBytes + x / 8] |= static_cast<char>(0x80 >> (x % 8));
        }
    }
    QRcode_free(code);
    return bitmap;
}

preview::Input ScreenInput(const HeldState& held, double atSeconds)
{
    preview::Input input;
    input.modelIndex = FindModel(held.model);
    if (input.modelIndex < 0)
        input.modelIndex = 6;
    // The settings as the display reports them, read as the window reads them.
    std::string error;
    WindowValues values;
    ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), input.info, values, error);
    ParseSettingsDocument(held.settings.render(), input.info, values, error);

    // The pictures it stored, by slot.
    for (int position = kFirstPicturePos; position <= kLastPicturePos; ++position) {
        const int slot = QueuePositionSlot(position);
        const auto size = SlotTargetSize(slot, input.modelIndex);
        if (!size)
            continue;
        const DownloadItem& item = DownloadItemAt(position);
        std::shared_ptr<const Image> picture;
        if (IsNamedFileModel(input.modelIndex)) {
            if (const auto f = held.files.find(item.FileName); f != held.files.end())
                picture = fromJpeg(f->second);
        } else if (std::string(item.FlashAddress) != kNoFlashAddress) {
            const auto address = static_cast<std::uint32_t>(std::stoul(FlashAddressHex(position), nullptr, 16));
            if (const auto b = held.blocks.find(address); b != held.blocks.end())
                picture = fromRgb565(b->second, size->width, size->height);
        }
        if (picture)
            input.slotPictures[slot] = picture;
    }

    input.atSeconds = atSeconds;
    const Shown& shown = held.shown;
    switch (shown.what) {
    case Shown::What::Settings: break;
    case Shown::What::Text:
        input.sent = preview::Sent::Text;
        input.sentText = shown.text;
        break;
    case Shown::What::QrText:
        input.sent = preview::Sent::QrCode;
        input.qrCode = QrFromText(shown.text);
        input.qrAlign = shown.align;
        break;
    case Shown::What::QrPicture:
        input.sent = preview::Sent::QrCode;
        input.qrCode.size = 192;
        input.qrCode.bits = shown.qrBits;
        input.qrAlign = shown.align;
        break;
    case Shown::What::Picture:
        input.sent = preview::Sent::Picture;
        input.pictureNumber = shown.picture;
        break;
    case Shown::What::Cleared: input.sent = preview::Sent::Cleared; break;
    }
    return input;
}

bool WriteScreenPng(const HeldState& held, double atSeconds, const std::string& path, std::string& error)
{
    const Image screen = preview::RenderScreen(ScreenInput(held, atSeconds));
    return WriteFileAtomic(path, EncodePng(screen, 1), error);
}

} // namespace tarsel::sim
