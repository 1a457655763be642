#include "ui/sys_lang.h"

namespace tarsel::ui {
namespace {

struct Entry {
    QLocale::Language language;
    QLocale::Territory territory; // AnyTerritory: the language's default id
    std::uint16_t id;
};

// Specific territories first; the AnyTerritory row of a language is its default.
constexpr Entry kEntries[] = {
    {QLocale::Chinese, QLocale::China, 0x0804},
    {QLocale::Chinese, QLocale::Taiwan, 0x0404},
    {QLocale::Chinese, QLocale::HongKong, 0x0C04},
    {QLocale::Chinese, QLocale::Singapore, 0x1004},
    {QLocale::Chinese, QLocale::Macau, 0x1404},
    {QLocale::English, QLocale::UnitedStates, 0x0409},
    {QLocale::English, QLocale::UnitedKingdom, 0x0809},
    {QLocale::English, QLocale::Australia, 0x0C09},
    {QLocale::English, QLocale::Canada, 0x1009},
    {QLocale::English, QLocale::NewZealand, 0x1409},
    {QLocale::English, QLocale::Ireland, 0x1809},
    {QLocale::English, QLocale::India, 0x4009},
    {QLocale::English, QLocale::AnyTerritory, 0x0409},
    {QLocale::German, QLocale::Switzerland, 0x0807},
    {QLocale::German, QLocale::Austria, 0x0C07},
    {QLocale::German, QLocale::AnyTerritory, 0x0407},
    {QLocale::French, QLocale::Belgium, 0x080C},
    {QLocale::French, QLocale::Canada, 0x0C0C},
    {QLocale::French, QLocale::Switzerland, 0x100C},
    {QLocale::French, QLocale::AnyTerritory, 0x040C},
    {QLocale::Spanish, QLocale::Mexico, 0x080A},
    {QLocale::Spanish, QLocale::AnyTerritory, 0x0C0A},
    {QLocale::Portuguese, QLocale::Brazil, 0x0416},
    {QLocale::Portuguese, QLocale::AnyTerritory, 0x0816},
    {QLocale::Italian, QLocale::AnyTerritory, 0x0410},
    {QLocale::Dutch, QLocale::Belgium, 0x0813},
    {QLocale::Dutch, QLocale::AnyTerritory, 0x0413},
    {QLocale::Japanese, QLocale::AnyTerritory, 0x0411},
    {QLocale::Korean, QLocale::AnyTerritory, 0x0412},
    {QLocale::Russian, QLocale::AnyTerritory, 0x0419},
    {QLocale::Ukrainian, QLocale::AnyTerritory, 0x0422},
    {QLocale::Polish, QLocale::AnyTerritory, 0x0415},
    {QLocale::Czech, QLocale::AnyTerritory, 0x0405},
    {QLocale::Slovak, QLocale::AnyTerritory, 0x041B},
    {QLocale::Hungarian, QLocale::AnyTerritory, 0x040E},
    {QLocale::Romanian, QLocale::AnyTerritory, 0x0418},
    {QLocale::Bulgarian, QLocale::AnyTerritory, 0x0402},
    {QLocale::Greek, QLocale::AnyTerritory, 0x0408},
    {QLocale::Turkish, QLocale::AnyTerritory, 0x041F},
    {QLocale::Hebrew, QLocale::AnyTerritory, 0x040D},
    {QLocale::Arabic, QLocale::AnyTerritory, 0x0401},
    {QLocale::Thai, QLocale::AnyTerritory, 0x041E},
    {QLocale::Vietnamese, QLocale::AnyTerritory, 0x042A},
    {QLocale::Swedish, QLocale::AnyTerritory, 0x041D},
    {QLocale::Danish, QLocale::AnyTerritory, 0x0406},
    {QLocale::NorwegianBokmal, QLocale::AnyTerritory, 0x0414},
    {QLocale::Finnish, QLocale::AnyTerritory, 0x040B},
    {QLocale::Lithuanian, QLocale::AnyTerritory, 0x0427},
    {QLocale::Latvian, QLocale::AnyTerritory, 0x0426},
    {QLocale::Estonian, QLocale::AnyTerritory, 0x0425},
    {QLocale::Croatian, QLocale::AnyTerritory, 0x041A},
    {QLocale::Serbian, QLocale::AnyTerritory, 0x081A},
    {QLocale::Slovenian, QLocale::AnyTerritory, 0x0424},
    {QLocale::Indonesian, QLocale::AnyTerritory, 0x0421},
    {QLocale::Malay, QLocale::AnyTerritory, 0x043E},
    {QLocale::Persian, QLocale::AnyTerritory, 0x0429},
    {QLocale::Hindi, QLocale::AnyTerritory, 0x0439},
};

} // namespace

std::uint16_t langIdForLocale(const QLocale& locale)
{
    const QLocale::Language language = locale.language();
    QLocale::Territory territory = locale.territory();
    if (language == QLocale::Chinese && territory == QLocale::AnyTerritory)
        territory = locale.script() == QLocale::TraditionalChineseScript ? QLocale::Taiwan : QLocale::China;
    for (const Entry& e : kEntries)
        if (e.language == language && e.territory == territory)
            return e.id;
    for (const Entry& e : kEntries)
        if (e.language == language && e.territory == QLocale::AnyTerritory)
            return e.id;
    if (language == QLocale::Chinese) // other Chinese territories
        return locale.script() == QLocale::TraditionalChineseScript ? 0x0404 : 0x0804;
    return 0x0409;
}

std::uint16_t systemLangId() { return langIdForLocale(QLocale::system()); }

} // namespace tarsel::ui
