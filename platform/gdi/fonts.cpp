// platform/gdi/fonts.cpp
// Logical fonts: which DejaVu file and pixel size a LOGFONTW draws with.
#include <algorithm>
#include <cmath>
#include <string>

#include "platform/gdi/font_engine.h"
#include "platform/gdi/gdi_objects.h"

namespace qob::platform {

using namespace gdi;

namespace {

// The character height of a font whose height is 0.
constexpr int kDefaultCharacterHeight = 12;
constexpr int kBoldWeight = 600;

std::string& FontFolder() {
    static std::string folder = "/usr/share/fonts/truetype/dejavu";
    return folder;
}

enum class Family { Sans, Mono, Serif };

// The face name in lower-case ASCII (other characters become '?').
std::string LowerFaceName(const LOGFONTW& description) {
    std::string name;
    for (int i = 0; i < LF_FACESIZE && description.lfFaceName[i] != 0; ++i) {
        const char16_t c = description.lfFaceName[i];
        name += c < 128 ? static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) : '?';
    }
    return name;
}

bool HasAny(const std::string& name, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* word) { return name.find(word) != std::string::npos; });
}

// The name decides when it says something; otherwise the pitch and family
// bits; otherwise sans.
Family FamilyOf(const LOGFONTW& description) {
    const std::string name = LowerFaceName(description);
    if (HasAny(name, {"mono", "courier", "console", "fixed", "terminal", "typewriter"})) return Family::Mono;
    const bool sans = name.find("sans") != std::string::npos;
    if (!sans && HasAny(name, {"serif", "roman", "times", "book"})) return Family::Serif;
    if (sans) return Family::Sans;
    if ((description.lfPitchAndFamily & 0x3) == FIXED_PITCH || (description.lfPitchAndFamily & 0xF0) == FF_MODERN)
        return Family::Mono;
    if ((description.lfPitchAndFamily & 0xF0) == FF_ROMAN) return Family::Serif;
    return Family::Sans;
}

std::string FileOf(Family family, bool bold) {
    const char* base = family == Family::Mono ? "DejaVuSansMono" : family == Family::Serif ? "DejaVuSerif" : "DejaVuSans";
    return FontFolder() + "/" + base + (bold ? "-Bold" : "") + ".ttf";
}

// A positive height is the cell (ascender plus descender); the character
// height is the em. Without the file's metrics the two are taken as equal.
int CharacterHeight(int32_t height, const std::string& file) {
    if (height == 0) return kDefaultCharacterHeight;
    if (height < 0) return -height;
    const std::optional<FileMetrics> metrics = MetricsOfFile(file);
    if (!metrics || metrics->ascender + metrics->descender <= 0) return height;
    const double em = static_cast<double>(height) * metrics->unitsPerEm / (metrics->ascender + metrics->descender);
    return static_cast<int>(std::lround(em));
}

}  // namespace

HFONT CreateFontIndirectW(const LOGFONTW* description) {
    if (!description) return 0;
    auto font = std::make_unique<Font>();
    font->description = *description;
    const Family family = FamilyOf(*description);
    font->face.file = FileOf(family, description->lfWeight >= kBoldWeight);
    const int32_t screenHeight = GetGdiScreenSize().cy;
    const int32_t asked = std::clamp(description->lfHeight, -screenHeight, screenHeight);
    font->face.pixelHeight = std::clamp(CharacterHeight(asked, font->face.file), 1, static_cast<int>(screenHeight));
    font->face.oblique = description->lfItalic != 0;
    font->face.monochrome = description->lfQuality == NONANTIALIASED_QUALITY;
    font->underline = description->lfUnderline != 0;
    font->strikeOut = description->lfStrikeOut != 0;
    return MakeHandle(HandleKind::Font, std::move(font));
}

bool DescribeFont(HFONT handle, FontFace* face) {
    const auto* font = static_cast<const Font*>(HandleObject(handle, HandleKind::Font));
    if (!font || !face) return false;
    *face = font->face;
    return true;
}

void SetFontFolder(std::string_view folder) {
    FontFolder() = std::string(folder);
    ClearFontCache();
}

std::string GetFontFolder() { return FontFolder(); }

}  // namespace qob::platform
