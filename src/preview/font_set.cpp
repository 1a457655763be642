#include "preview/font_set.h"

#include <algorithm>
#include <cstring>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

namespace tarsel::preview {

namespace {

// A render draws at most a few hundred distinct glyphs (a few kilobytes each); the
// bound only keeps a long session of edits across sizes and code pages from growing
// without end.
constexpr std::size_t kMaxGlyphBytes = 16u << 20;

FT_Library ftLibrary(void* p) { return static_cast<FT_Library>(p); }

int fromFixed(FT_Pos v) { return static_cast<int>((v + 32) >> 6); }

} // namespace

struct FontSet::Face {
    std::string file;
    int index = 0;
    FcCharSet* charset = nullptr;
    FT_Face face = nullptr;
    bool tried = false; // opened once already (a failure is not retried)
};

FontSet& FontSet::shared()
{
    static FontSet set({"WenQuanYi Micro Hei Mono", "WenQuanYi Micro Hei", "monospace", "sans-serif"});
    return set;
}

FontSet::FontSet(const std::vector<std::string>& families)
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        m_error = "The font engine (FreeType) could not be started: texts are drawn without glyphs.";
        return;
    }
    m_library = library;

    // A configuration of our own: the window's toolkit uses fontconfig's current one
    // on its own thread, and neither should see the other's changes.
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) {
        m_error = "The font configuration (fontconfig) could not be loaded: texts are drawn without glyphs.";
        return;
    }
    m_config = config;

    FcPattern* pattern = FcPatternCreate();
    for (const std::string& family : families)
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    // Trimmed: fonts that add no character to those before them are left out, so
    // the fallback search per character stays short.
    FcFontSet* sorted = FcFontSort(config, pattern, FcTrue, nullptr, &result);
    if (sorted) {
        for (int i = 0; i < sorted->nfont; ++i) {
            FcPattern* font = sorted->fonts[i];
            FcChar8* file = nullptr;
            FcCharSet* charset = nullptr;
            FcBool scalable = FcTrue;
            if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch
                || FcPatternGetCharSet(font, FC_CHARSET, 0, &charset) != FcResultMatch)
                continue;
            // Bitmap fonts come in fixed sizes only; the preview draws at any size.
            if (FcPatternGetBool(font, FC_SCALABLE, 0, &scalable) == FcResultMatch && !scalable)
                continue;
            auto face = std::make_unique<Face>();
            face->file = reinterpret_cast<const char*>(file);
            FcPatternGetInteger(font, FC_INDEX, 0, &face->index);
            face->charset = FcCharSetCopy(charset);
            m_faces.push_back(std::move(face));
        }
        FcFontSetDestroy(sorted);
    }
    FcPatternDestroy(pattern);

    // The first font that opens is the one whose box stands for missing characters
    // and whose line metrics place every line.
    auto primary = std::find_if(m_faces.begin(), m_faces.end(), [this](auto& f) { return loadFace(*f); });
    if (primary == m_faces.end()) {
        m_error = m_faces.empty() ? "No font was found for the preview's texts: they are drawn without glyphs."
                                  : "None of the fonts found for the preview's texts could be opened: they are "
                                    "drawn without glyphs.";
        return;
    }
    std::rotate(m_faces.begin(), primary, primary + 1);
}

FontSet::~FontSet()
{
    for (auto& face : m_faces) {
        if (face->face)
            FT_Done_Face(face->face);
        if (face->charset)
            FcCharSetDestroy(face->charset);
    }
    if (m_library)
        FT_Done_FreeType(ftLibrary(m_library));
    if (m_config)
        FcConfigDestroy(static_cast<FcConfig*>(m_config));
}

bool FontSet::loadFace(Face& face)
{
    if (!face.tried) {
        face.tried = true;
        FT_Face ft = nullptr;
        if (FT_New_Face(ftLibrary(m_library), face.file.c_str(), face.index, &ft) == 0)
            face.face = ft;
    }
    return face.face != nullptr;
}

FontSet::Face* FontSet::faceFor(char32_t ch)
{
    auto known = m_faceOfChar.find(ch);
    if (known != m_faceOfChar.end())
        return known->second < 0 ? nullptr : m_faces[static_cast<std::size_t>(known->second)].get();
    int found = -1;
    for (std::size_t i = 0; i < m_faces.size(); ++i) {
        Face& face = *m_faces[i];
        if (FcCharSetHasChar(face.charset, ch) && loadFace(face) && FT_Get_Char_Index(face.face, ch) != 0) {
            found = static_cast<int>(i);
            if (std::find(m_used.begin(), m_used.end(), face.file) == m_used.end())
                m_used.push_back(face.file);
            break;
        }
    }
    m_faceOfChar[ch] = found;
    return found < 0 ? nullptr : m_faces[static_cast<std::size_t>(found)].get();
}

namespace {

// Loads and renders glyph `index` of `ft` into `out`; false when FreeType cannot.
bool renderGlyph(FT_Face ft, FT_UInt index, Glyph& out)
{
    // Outlines only: some fonts carry bitmaps for a few sizes that would make one
    // size look unlike the others.
    if (FT_Load_Glyph(ft, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0
        || FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_NORMAL) != 0)
        return false;
    const FT_GlyphSlot slot = ft->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    out.width = static_cast<int>(bitmap.width);
    out.height = static_cast<int>(bitmap.rows);
    out.left = slot->bitmap_left;
    out.top = slot->bitmap_top;
    out.advance = fromFixed(slot->advance.x);
    out.coverage.assign(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height), 0);
    for (int y = 0; y < out.height; ++y) {
        const unsigned char* src = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
        std::uint8_t* dst = out.coverage.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width);
        if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
            for (int x = 0; x < out.width; ++x)
                dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        } else {
            std::memcpy(dst, src, static_cast<std::size_t>(out.width));
        }
    }
    return true;
}

} // namespace

std::shared_ptr<const Glyph> FontSet::glyph(char32_t ch, int pixelSize, int maxAdvance)
{
    pixelSize = std::clamp(pixelSize, 1, 0xFFFF);
    maxAdvance = std::clamp(maxAdvance, 0, 0xFFFF);
    const std::uint64_t key = (static_cast<std::uint64_t>(ch) << 32) | (static_cast<std::uint64_t>(pixelSize) << 16)
        | static_cast<std::uint64_t>(maxAdvance);
    std::lock_guard lock(m_mutex);
    if (auto it = m_glyphs.find(key); it != m_glyphs.end())
        return it->second;

    auto glyph = std::make_shared<Glyph>();
    if (!ok()) {
        glyph->missing = true;
    } else {
        Face* face = faceFor(ch);
        FT_UInt index = 0;
        if (face) {
            index = FT_Get_Char_Index(face->face, ch);
        } else {
            glyph->missing = true;
            face = m_faces.front().get(); // glyph 0: the font's box for "no such character"
        }
        FT_Face ft = face->face;
        if (FT_Set_Pixel_Sizes(ft, 0, static_cast<FT_UInt>(pixelSize)) == 0) {
            FT_Set_Transform(ft, nullptr, nullptr);
            if (renderGlyph(ft, index, *glyph) && maxAdvance > 0 && glyph->advance > maxAdvance) {
                FT_Matrix condense{static_cast<FT_Fixed>(0x10000LL * maxAdvance / glyph->advance), 0, 0, 0x10000};
                FT_Set_Transform(ft, &condense, nullptr);
                renderGlyph(ft, index, *glyph);
                FT_Set_Transform(ft, nullptr, nullptr);
            }
        }
    }
    if (m_glyphBytes > kMaxGlyphBytes) {
        m_glyphs.clear(); // glyphs still in use stay alive through their shared pointers
        m_glyphBytes = 0;
    }
    m_glyphBytes += sizeof(Glyph) + glyph->coverage.size();
    m_glyphs.emplace(key, glyph);
    return glyph;
}

LineMetrics FontSet::metrics(int pixelSize)
{
    pixelSize = std::clamp(pixelSize, 1, 0xFFFF);
    std::lock_guard lock(m_mutex);
    if (auto it = m_metrics.find(pixelSize); it != m_metrics.end())
        return it->second;
    // Without a font, a line is taken as 4/5 of the size above the baseline.
    LineMetrics m{pixelSize * 4 / 5, pixelSize - pixelSize * 4 / 5};
    if (ok()) {
        FT_Face ft = m_faces.front()->face;
        if (FT_Set_Pixel_Sizes(ft, 0, static_cast<FT_UInt>(pixelSize)) == 0) {
            m.ascent = fromFixed(ft->size->metrics.ascender);
            m.descent = -fromFixed(ft->size->metrics.descender);
        }
    }
    m_metrics.emplace(pixelSize, m);
    return m;
}

std::string FontSet::primaryFile() const
{
    std::lock_guard lock(m_mutex);
    return ok() ? m_faces.front()->file : std::string();
}

std::vector<std::string> FontSet::usedFiles() const
{
    std::lock_guard lock(m_mutex);
    return m_used;
}

} // namespace tarsel::preview
