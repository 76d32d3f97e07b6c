// tests/display/images/image_test_support.h
// What the picture tests share: surfaces that release themselves, pictures
// drawn for fixtures, ImageMagick's convert as the independent encoder and
// decoder, and a sink that records what a decoder does.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "display/display_test_support.h"
#include "display/images/image_sink.h"
#include "display/pixel_surface.h"
#include "platform/memory.h"

namespace qob::testing {

// A surface a decoder returned (or null), released and freed at the end.
class DecodedSurface {
public:
    explicit DecodedSurface(PixelSurface* decoded) : surface(decoded) {}
    ~DecodedSurface() {
        if (surface == nullptr) return;
        SurfaceRelease(surface);
        platform::FreeBlock(surface);
    }
    DecodedSurface(const DecodedSurface&) = delete;
    DecodedSurface& operator=(const DecodedSurface&) = delete;
    explicit operator bool() const { return surface != nullptr; }
    PixelSurface* operator->() const { return surface; }
    int32_t Width() const { return surface->buffer->width; }
    int32_t Height() const { return surface->buffer->height; }
    Picture Pixels() const {
        Picture picture(Width(), Height());
        for (int32_t y = 0; y < picture.height; ++y)
            for (int32_t x = 0; x < picture.width; ++x) picture.At(x, y) = *PixelAt(*surface->buffer, x, y);
        return picture;
    }

    PixelSurface* surface;
};

inline std::vector<uint8_t> ReadFileToBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(file);
    }
    return bytes;
}

inline void WriteBytesToFile(const std::string& path, std::span<const uint8_t> bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
}

// The fixed seed files of the fuzz targets: one small picture per format.
inline std::vector<uint8_t> ReadSeed(const std::string& target, const std::string& name) {
    const std::string path = std::string(QOB_TEST_SOURCE_DIR) + "/fuzz/corpus/" + target + "/" + name;
    std::vector<uint8_t> bytes = ReadFileToBytes(path);
    EXPECT_FALSE(bytes.empty()) << path;
    return bytes;
}

// ImageMagick's convert, called by its own path (the one the package
// installs), or null when it is missing.
inline const char* FindConvert() {
    static const char* const kConvert = "/usr/bin/convert";
    return access(kConvert, X_OK) == 0 ? kConvert : nullptr;
}

// Runs convert with the arguments (each quoted); its output on failure.
inline ::testing::AssertionResult RunConvert(const std::vector<std::string>& arguments) {
    std::string command = FindConvert();
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return ::testing::AssertionFailure() << "cannot run " << command;
    std::string output;
    for (int c; (c = std::fgetc(pipe)) != EOF;) output += static_cast<char>(c);
    if (pclose(pipe) != 0) return ::testing::AssertionFailure() << command << ": " << output;
    return ::testing::AssertionSuccess();
}

// Fixture pictures: gradients in red and green across and down, and sharp
// edges of a checkerboard in blue; the alpha forms are a ramp of every
// level, and a pattern of only 0 and 255.
enum class Source { Opaque, Alpha, BinaryAlpha };

inline std::vector<uint8_t> MakeRgba(int32_t width, int32_t height, Source source) {
    std::vector<uint8_t> rgba;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t red = uint8_t(x * 255 / std::max(width - 1, 1));
            const uint8_t green = uint8_t(y * 255 / std::max(height - 1, 1));
            const uint8_t blue = (x / 5 + y / 4) % 2 ? 255 : 30;
            uint8_t alpha = 255;
            if (source == Source::Alpha) alpha = uint8_t((x * 7 + y * 11) % 256);
            if (source == Source::BinaryAlpha) alpha = (x + y) % 3 == 0 ? 0 : 255;
            rgba.insert(rgba.end(), {red, green, blue, alpha});
        }
    return rgba;
}

// The picture as a file convert reads: PPM when opaque, else PAM with alpha.
inline std::string WriteSource(const std::string& directory, int32_t width, int32_t height, Source source) {
    const std::vector<uint8_t> rgba = MakeRgba(width, height, source);
    std::string text;
    if (source == Source::Opaque) {
        text = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
        for (size_t i = 0; i < rgba.size(); i += 4) text.append(reinterpret_cast<const char*>(&rgba[i]), 3);
    } else {
        text = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
               "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        text.append(reinterpret_cast<const char*>(rgba.data()), rgba.size());
    }
    const std::string path = directory + (source == Source::Opaque ? "/source.ppm" : "/source.pam");
    WriteBytesToFile(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return path;
}

// ImageMagick's own decode of a picture file, flattened over black at its
// page size, each 8-bit channel truncated to RGB565.
inline std::optional<Picture> DecodeWithImageMagick(const std::string& path, int32_t width, int32_t height) {
    const std::string raw = path + ".rgb";
    if (!RunConvert({path + "[0]", "-background", "black", "-flatten", "-alpha", "off", "-depth", "8", "rgb:" + raw}))
        return std::nullopt;
    const std::vector<uint8_t> rgb = ReadFileToBytes(raw);
    if (rgb.size() != size_t(width) * size_t(height) * 3) return std::nullopt;
    Picture picture(width, height);
    for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = PackRgb565(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    return picture;
}

// Every channel of every pixel within `steps` of the expected one, in units
// of its own 5 or 6 bits; the first differences in the message.
inline ::testing::AssertionResult NearPicture(const Picture& actual, const Picture& expected, int steps) {
    if (actual.width != expected.width || actual.height != expected.height)
        return ::testing::AssertionFailure() << "size " << actual.width << " x " << actual.height << ", expected "
                                             << expected.width << " x " << expected.height;
    int differences = 0;
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    for (int32_t y = 0; y < actual.height; ++y)
        for (int32_t x = 0; x < actual.width; ++x) {
            const uint16_t a = actual.At(x, y), e = expected.At(x, y);
            const int red = std::abs((a >> 11) - (e >> 11)), green = std::abs(((a >> 5) & 63) - ((e >> 5) & 63)),
                      blue = std::abs((a & 31) - (e & 31));
            if (std::max({red, green, blue}) > steps && differences++ < 8)
                failure << "(" << x << ", " << y << "): 0x" << std::hex << a << " expected 0x" << e << std::dec << "; ";
        }
    if (differences == 0) return ::testing::AssertionSuccess();
    return failure << differences << " pixels differ by more than " << steps;
}

// A sink that records the decoder's calls: the size it announced, and each
// row asked for; it keeps the pixels when keepPixels is set. It refuses
// sizes the surfaces' cap refuses (pitch x height past the pixel buffers'
// most bytes), or every size when refuseAll is set.
class RecordingSink final : public ImageSink {
public:
    explicit RecordingSink(bool keep = true) : keepPixels(keep) {}

    bool Start(int32_t w, int32_t h) override {
        ++starts;
        width = w;
        height = h;
        accepted = !refuseAll && w > 0 && h > 0 && ComputePitch(w) * h <= kMaxPixelBufferBytes;
        if (!accepted) return false;
        if (keepPixels) picture.emplace(w, h);
        rowsGiven.assign(size_t(h), false);
        return true;
    }
    uint16_t* Row(int32_t y) override {
        EXPECT_TRUE(accepted) << "a row before the picture was accepted";
        EXPECT_GE(y, 0);
        EXPECT_LT(y, height);
        if (!accepted || y < 0 || y >= height) return nullptr;
        rowsGiven[size_t(y)] = true;
        if (keepPixels) return &picture->At(0, y);
        scrap.assign(size_t(width), 0);
        return scrap.data();
    }
    int32_t RowsGiven() const { return int32_t(std::count(rowsGiven.begin(), rowsGiven.end(), true)); }

    bool keepPixels;
    bool refuseAll = false;
    bool accepted = false;
    int starts = 0;
    int32_t width = 0, height = 0;
    std::optional<Picture> picture;
    std::vector<bool> rowsGiven;
    std::vector<uint16_t> scrap;
};

}  // namespace qob::testing
