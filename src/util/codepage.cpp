#include "util/codepage.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <iconv.h>

namespace tarsel {

namespace {

constexpr std::uint32_t kReplacementChar = 0xFFFD;
constexpr int kHostCodePage = 1252;

// Windows-1252 bytes 80..9F; the five undefined bytes keep their own value.
constexpr std::array<char16_t, 32> kHost80 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Number of UTF-16 units of the character starting at text[i] (2 for a surrogate pair).
std::size_t unitsAt(const Text& text, std::size_t i)
{
    return (isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1])) ? 2 : 1;
}

char hostByteOf(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kHost80.size(); ++i)
        if (kHost80[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

char16_t hostCharOf(std::uint8_t b)
{
    return (b >= 0x80 && b < 0xA0) ? kHost80[b - 0x80] : static_cast<char16_t>(b);
}

const char* utf16Name()
{
    return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

// One converter for the length of one call (a handle is not safe to share between
// threads; opening one is cheap once glibc has loaded the module).
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts [in, in+inLen) appending to `out`. Returns false at the first character
    // that cannot be converted (EILSEQ) or an incomplete sequence at the end (EINVAL);
    // `consumed` tells how far the input was taken. A sequence cut off by the end of
    // the input is reported the same way as an invalid one.
    bool convert(const char* in, std::size_t inLen, std::string& out, std::size_t& consumed)
    {
        char* inPtr = const_cast<char*>(in);
        std::size_t inLeft = inLen;
        char buf[1024];
        bool good = true;
        while (inLeft > 0) {
            char* outPtr = buf;
            std::size_t outLeft = sizeof buf;
            std::size_t r = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buf, static_cast<std::size_t>(outPtr - buf));
            if (r == static_cast<std::size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                good = false;
                break;
            }
        }
        if (good) {
            // Flush any shift state.
            char* outPtr = buf;
            std::size_t outLeft = sizeof buf;
            iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
            out.append(buf, static_cast<std::size_t>(outPtr - buf));
        } else {
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // reset to the initial state
        }
        consumed = inLen - inLeft;
        return good;
    }

private:
    iconv_t m_cd;
};

Bytes wideToIconv(const Text& text, const char* name)
{
    Converter conv(name, utf16Name());
    if (!conv.ok())
        return WideToHost(text);
    Bytes out;
    out.reserve(text.size());
    std::size_t pos = 0; // in UTF-16 units
    while (pos < text.size()) {
        std::size_t consumed = 0;
        const char* start = reinterpret_cast<const char*>(text.data() + pos);
        std::size_t len = (text.size() - pos) * sizeof(char16_t);
        if (conv.convert(start, len, out, consumed))
            break;
        pos += consumed / sizeof(char16_t);
        if (pos >= text.size())
            break;
        out.push_back('?');
        pos += unitsAt(text, pos);
    }
    return out;
}

void appendUnit(Text& out, const std::string& raw)
{
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        char16_t c;
        std::memcpy(&c, raw.data() + i, sizeof c);
        out.push_back(c);
    }
}

Text iconvToWide(const Bytes& bytes, const char* name)
{
    Converter conv(utf16Name(), name);
    if (!conv.ok())
        return HostToWide(bytes);
    std::string raw;
    raw.reserve(bytes.size() * 2);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t consumed = 0;
        if (conv.convert(bytes.data() + pos, bytes.size() - pos, raw, consumed))
            break;
        pos += consumed;
        if (pos >= bytes.size())
            break;
        const char16_t bad = static_cast<char16_t>(kReplacementChar);
        raw.append(reinterpret_cast<const char*>(&bad), sizeof bad);
        ++pos;
    }
    Text out;
    appendUnit(out, raw);
    return out;
}

} // namespace

const char* CodePageConverterName(int codePage)
{
    switch (codePage) {
    case 437: return "CP437";
    case 737: return "CP737";
    case 850: return "CP850";
    case 852: return "CP852";
    case 857: return "CP857";
    case 858: return "CP858";
    case 860: return "CP860";
    case 863: return "CP863";
    case 864: return "CP864";
    case 865: return "CP865";
    case 866: return "CP866";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28595: return "ISO-8859-5";
    case 28597: return "ISO-8859-7";
    case 65001: return "UTF-8";
    default: return nullptr;
    }
}

bool IsKnownCodePage(int codePage)
{
    return codePage == kHostCodePage || CodePageConverterName(codePage) != nullptr;
}

Bytes WideToCodePage(const Text& text, int codePage)
{
    if (text.empty())
        return Bytes(1, '\0');
    const char* name = CodePageConverterName(codePage);
    return name ? wideToIconv(text, name) : WideToHost(text);
}

Text CodePageToWide(const Bytes& bytes, int codePage)
{
    if (bytes.empty())
        return Text(1, u'\0');
    const char* name = CodePageConverterName(codePage);
    return name ? iconvToWide(bytes, name) : HostToWide(bytes);
}

Bytes WideToHost(const Text& text)
{
    Bytes out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); i += unitsAt(text, i))
        out.push_back(hostByteOf(text[i]));
    return out;
}

Text HostToWide(const Bytes& bytes)
{
    Text out;
    out.reserve(bytes.size());
    for (char b : bytes)
        out.push_back(hostCharOf(static_cast<std::uint8_t>(b)));
    return out;
}

std::string Utf16ToUtf8(const Text& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (isHigh(text[i]) && i + 1 < text.size() && isLow(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (isHigh(text[i]) || isLow(text[i])) {
            cp = kReplacementChar;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

Text Utf8ToUtf16(const std::string& utf8)
{
    Text out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        std::uint8_t b = s[i];
        std::uint32_t cp;
        std::size_t len;
        std::uint32_t min;
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F; len = 2; min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F; len = 3; min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07; len = 4; min = 0x10000;
        } else {
            out.push_back(static_cast<char16_t>(kReplacementChar));
            ++i;
            continue;
        }
        bool good = i + len <= n;
        for (std::size_t k = 1; good && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                good = false;
            else
                cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (!good || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(static_cast<char16_t>(kReplacementChar));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

} // namespace tarsel
