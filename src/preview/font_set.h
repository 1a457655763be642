// The fonts the preview draws with: found once through fontconfig, rasterised with
// FreeType, glyphs kept for the next render.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarsel::preview {

// One character at one pixel size: an 8-bit coverage bitmap and where it goes
// relative to the pen on the baseline.
struct Glyph {
    int width = 0;
    int height = 0;
    int left = 0;    // from the pen to the bitmap's left edge
    int top = 0;     // from the baseline up to the bitmap's top row
    int advance = 0; // pen movement in pixels
    std::vector<std::uint8_t> coverage; // width × height, 0 = none, 255 = full
    bool missing = false; // no font has the character (empty, or the first font's box)
};

// Vertical extent of a line of text at one pixel size.
struct LineMetrics {
    int ascent = 0;
    int descent = 0; // positive, below the baseline
};

// The preferred family is the installed WenQuanYi Micro Hei Mono (half-width Latin,
// full-width CJK, like the display's character cells); fontconfig's ordering of the
// other installed fonts supplies the characters it lacks, character by character.
// Every member may be called from any thread: FreeType faces are not thread-safe, so
// each call holds the set's lock, and glyphs are handed out as shared, immutable
// values.
class FontSet {
public:
    // The set every render uses, loaded on first use.
    static FontSet& shared();

    // Loads fontconfig's fonts for `families` (best first). A set that finds no
    // usable font still works: every glyph is missing and error() says why.
    explicit FontSet(const std::vector<std::string>& families);
    ~FontSet();
    FontSet(const FontSet&) = delete;
    FontSet& operator=(const FontSet&) = delete;

    bool ok() const { return m_error.empty(); }
    // Why no glyph can be drawn; empty when a font was found.
    const std::string& error() const { return m_error; }
    // The file of the font tried first ("" without fonts).
    std::string primaryFile() const;
    // The files that supplied glyphs so far, in the order they were first used.
    std::vector<std::string> usedFiles() const;

    // The glyph of `ch` drawn `pixelSize` pixels high; when its advance would be more
    // than `maxAdvance` (> 0), condensed horizontally to that advance, as a display's
    // cell font draws a wide letter into its cell.
    std::shared_ptr<const Glyph> glyph(char32_t ch, int pixelSize, int maxAdvance = 0);
    LineMetrics metrics(int pixelSize);

private:
    struct Face;
    Face* faceFor(char32_t ch);
    bool loadFace(Face& face);

    mutable std::mutex m_mutex;
    void* m_library = nullptr; // FT_Library
    void* m_config = nullptr;  // FcConfig*
    std::vector<std::unique_ptr<Face>> m_faces; // fontconfig's order
    std::vector<std::string> m_used;
    std::unordered_map<std::uint64_t, std::shared_ptr<const Glyph>> m_glyphs;
    std::size_t m_glyphBytes = 0;
    std::unordered_map<char32_t, int> m_faceOfChar; // index into m_faces, -1 for none
    std::unordered_map<int, LineMetrics> m_metrics;
    std::string m_error;
};

} // namespace tarsel::preview
