// platform/gdi/font_engine.cpp
// FreeType behind the font engine: the library is opened with dlopen on the
// first glyph, faces are opened per file and pixel size and kept, and every
// glyph is rendered once per strike.
#include "platform/gdi/font_engine.h"

#include <dlfcn.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <type_traits>
#include <unordered_map>

namespace qob::platform::gdi {
namespace {

constexpr char kLibraryName[] = "libfreetype.so.6";
// Strikes kept at once; the oldest goes first. Font sizes are bounded by
// the screen, so a program seldom comes near this.
constexpr size_t kMaxStrikes = 48;
// Glyphs kept per strike before its cache starts afresh.
constexpr size_t kMaxGlyphs = 4096;
// Oblique faces lean by this shear (x += 0.2 y), in 16.16 fixed point.
constexpr FT_Fixed kObliqueShear = 0x3333;

// The few FreeType calls the engine makes.
struct FreeTypeCalls {
    decltype(&FT_Init_FreeType) initFreeType = nullptr;
    decltype(&FT_Done_FreeType) doneFreeType = nullptr;
    decltype(&FT_New_Face) newFace = nullptr;
    decltype(&FT_Done_Face) doneFace = nullptr;
    decltype(&FT_Set_Pixel_Sizes) setPixelSizes = nullptr;
    decltype(&FT_Set_Transform) setTransform = nullptr;
    decltype(&FT_Load_Char) loadChar = nullptr;
    decltype(&FT_Render_Glyph) renderGlyph = nullptr;
};

// The calls, or null when the library or one of them is missing (reported
// once). The library stays loaded for the process.
const FreeTypeCalls* LoadFreeType() {
    static const FreeTypeCalls* loaded = []() -> const FreeTypeCalls* {
        void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        static FreeTypeCalls calls;
        auto find = [library](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(library, name));
            return slot != nullptr;
        };
        const bool found = library && find(calls.initFreeType, "FT_Init_FreeType") &&
                           find(calls.doneFreeType, "FT_Done_FreeType") && find(calls.newFace, "FT_New_Face") &&
                           find(calls.doneFace, "FT_Done_Face") && find(calls.setPixelSizes, "FT_Set_Pixel_Sizes") &&
                           find(calls.setTransform, "FT_Set_Transform") && find(calls.loadChar, "FT_Load_Char") &&
                           find(calls.renderGlyph, "FT_Render_Glyph");
        if (!found) {
            std::fprintf(stderr, "The font library \"%s\" cannot be loaded; text is not drawn\n", kLibraryName);
            return nullptr;
        }
        return &calls;
    }();
    return loaded;
}

class FreeTypeStrike final : public Strike {
public:
    FreeTypeStrike(const FreeTypeCalls& calls, FT_Face face, bool monochrome)
        : calls(calls), face(face), monochrome(monochrome) {
        const FT_Size_Metrics& metrics = face->size->metrics;
        ascent = static_cast<int>((metrics.ascender + 63) >> 6);
        descent = static_cast<int>((-metrics.descender + 63) >> 6);
        maxWidth = static_cast<int>((metrics.max_advance + 63) >> 6);
        averageWidth = GlyphFor(U'x').advance;
    }
    ~FreeTypeStrike() override { calls.doneFace(face); }

    const Glyph& GlyphFor(char32_t code) override {
        if (code < 128 && ascii[code]) return *ascii[code];
        if (auto found = others.find(code); found != others.end()) return found->second;
        if (others.size() >= kMaxGlyphs) {
            others.clear();
            ascii.fill(nullptr);
        }
        Glyph& glyph = others[code];
        Render(code, &glyph);
        if (code < 128) ascii[code] = &glyph;
        return glyph;
    }

private:
    void Render(char32_t code, Glyph* glyph) {
        const FT_Int32 flags = FT_LOAD_DEFAULT | (monochrome ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
        if (calls.loadChar(face, code, flags) != 0) return;
        FT_GlyphSlot slot = face->glyph;
        glyph->advance = static_cast<int>((slot->advance.x + 32) >> 6);
        if (calls.renderGlyph(slot, monochrome ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) return;
        const FT_Bitmap& bitmap = slot->bitmap;
        glyph->left = slot->bitmap_left;
        glyph->top = slot->bitmap_top;
        glyph->width = static_cast<int>(bitmap.width);
        glyph->rows = static_cast<int>(bitmap.rows);
        glyph->stride = (glyph->width + kGlyphRowAlignment - 1) / kGlyphRowAlignment * kGlyphRowAlignment;
        glyph->coverage.assign(static_cast<size_t>(glyph->stride) * glyph->rows, 0);
        for (int y = 0; y < glyph->rows; ++y) {
            const unsigned char* row = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
            uint8_t* out = &glyph->coverage[static_cast<size_t>(y) * glyph->stride];
            for (int x = 0; x < glyph->width; ++x) {
                if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                else out[x] = row[x];
            }
        }
    }

    const FreeTypeCalls& calls;
    FT_Face face;
    bool monochrome;
    std::array<const Glyph*, 128> ascii{};
    std::unordered_map<char32_t, Glyph> others;
};

using StrikeKey = std::tuple<std::string, int, bool, bool>;

class FontEngine {
public:
    ~FontEngine() {
        Clear();
        if (library) calls->doneFreeType(library);
    }

    Strike* StrikeFor(const FontFace& face) {
        const StrikeKey key{face.file, face.pixelHeight, face.oblique, face.monochrome};
        if (auto found = strikes.find(key); found != strikes.end()) return found->second.get();
        FT_Face opened = Open(face.file);
        if (!opened) return nullptr;
        calls->setPixelSizes(opened, 0, static_cast<FT_UInt>(face.pixelHeight));
        if (face.oblique) {
            FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
            calls->setTransform(opened, &shear, nullptr);
        }
        if (strikes.size() >= kMaxStrikes) {
            strikes.erase(order.front());
            order.erase(order.begin());
        }
        order.push_back(key);
        auto& slot = strikes[key];
        slot = std::make_unique<FreeTypeStrike>(*calls, opened, face.monochrome);
        return slot.get();
    }

    std::optional<FileMetrics> MetricsOf(const std::string& file) {
        if (auto found = fileMetrics.find(file); found != fileMetrics.end()) return found->second;
        FT_Face opened = Open(file);
        if (!opened) return std::nullopt;
        const FileMetrics metrics{opened->units_per_EM, opened->ascender, -opened->descender};
        calls->doneFace(opened);
        fileMetrics[file] = metrics;
        return metrics;
    }

    void Clear() {
        strikes.clear();
        order.clear();
        fileMetrics.clear();
    }

private:
    // A new face of the file, or null (a missing file is reported once).
    FT_Face Open(const std::string& file) {
        if (!Start()) return nullptr;
        FT_Face face = nullptr;
        if (calls->newFace(library, file.c_str(), 0, &face) == 0) return face;
        if (reported.insert(file).second)
            std::fprintf(stderr, "The font file \"%s\" cannot be read; text is not drawn\n", file.c_str());
        return nullptr;
    }

    bool Start() {
        if (library) return true;
        calls = LoadFreeType();
        return calls && calls->initFreeType(&library) == 0;
    }

    const FreeTypeCalls* calls = nullptr;
    FT_Library library = nullptr;
    std::map<StrikeKey, std::unique_ptr<FreeTypeStrike>> strikes;
    std::vector<StrikeKey> order;  // oldest first
    std::map<std::string, FileMetrics> fileMetrics;
    std::set<std::string> reported;  // each missing file is reported once per process
};

FontEngine& Engine() {
    static FontEngine engine;
    return engine;
}

}  // namespace

Strike* StrikeFor(const FontFace& face) { return Engine().StrikeFor(face); }

std::optional<FileMetrics> MetricsOfFile(const std::string& file) { return Engine().MetricsOf(file); }

void ClearFontCache() { Engine().Clear(); }

}  // namespace qob::platform::gdi
