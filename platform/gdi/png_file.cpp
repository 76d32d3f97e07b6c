// platform/gdi/png_file.cpp
// Surfaces written as PNG files through libpng, which is loaded on first
// use. The file is written under a temporary name and renamed into place,
// so a failed write leaves nothing at the path.
#include <csetjmp>
#include <cstdio>
#include <type_traits>
#include <vector>

#include <dlfcn.h>
#include <png.h>

#include "platform/gdi.h"

namespace qob::platform {
namespace {

struct PngCalls {
    decltype(&png_create_write_struct) createWriteStruct = nullptr;
    decltype(&png_create_info_struct) createInfoStruct = nullptr;
    decltype(&png_destroy_write_struct) destroyWriteStruct = nullptr;
    decltype(&png_init_io) initIo = nullptr;
    decltype(&png_set_IHDR) setHeader = nullptr;
    decltype(&png_write_info) writeInfo = nullptr;
    decltype(&png_write_row) writeRow = nullptr;
    decltype(&png_write_end) writeEnd = nullptr;
    decltype(&png_get_error_ptr) getErrorPointer = nullptr;
};

const PngCalls* LoadPng() {
    static const PngCalls* loaded = []() -> const PngCalls* {
        void* library = dlopen("libpng16.so.16", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        static PngCalls calls;
        auto find = [library](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(library, name));
            return slot != nullptr;
        };
        const bool found = find(calls.createWriteStruct, "png_create_write_struct") &&
                           find(calls.createInfoStruct, "png_create_info_struct") &&
                           find(calls.destroyWriteStruct, "png_destroy_write_struct") &&
                           find(calls.initIo, "png_init_io") && find(calls.setHeader, "png_set_IHDR") &&
                           find(calls.writeInfo, "png_write_info") && find(calls.writeRow, "png_write_row") &&
                           find(calls.writeEnd, "png_write_end") && find(calls.getErrorPointer, "png_get_error_ptr");
        return found ? &calls : nullptr;
    }();
    return loaded;
}

// libpng's errors jump back to WriteRows; its error function must not
// return.
struct ErrorJump {
    std::jmp_buf jump;
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
    auto* error = static_cast<ErrorJump*>(LoadPng()->getErrorPointer(png));
    std::longjmp(error->jump, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Writes the rows; nothing here has a destructor, since an error jumps
// back out of libpng to the setjmp. row holds one row of RGB bytes.
bool WriteRows(const PngCalls& calls, std::FILE* file, const Surface32& surface, png_bytep row) {
    ErrorJump error;
    png_structp volatile png = calls.createWriteStruct(PNG_LIBPNG_VER_STRING, &error, OnPngError, OnPngWarning);
    if (!png) return false;
    png_infop volatile info = calls.createInfoStruct(png);
    if (!info || setjmp(error.jump) != 0) {
        png_structp writer = png;
        png_infop header = info;
        calls.destroyWriteStruct(&writer, header ? &header : nullptr);
        return false;
    }
    calls.initIo(png, file);
    calls.setHeader(png, info, static_cast<png_uint_32>(surface.width), static_cast<png_uint_32>(surface.height), 8,
                    PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    calls.writeInfo(png, info);
    for (int y = 0; y < surface.height; ++y) {
        const uint32_t* in = surface.pixels + static_cast<ptrdiff_t>(y) * surface.stride;
        for (int x = 0; x < surface.width; ++x) {
            row[3 * x] = static_cast<png_byte>(in[x] >> 16);
            row[3 * x + 1] = static_cast<png_byte>(in[x] >> 8);
            row[3 * x + 2] = static_cast<png_byte>(in[x]);
        }
        calls.writeRow(png, row);
    }
    calls.writeEnd(png, nullptr);
    png_structp writer = png;
    png_infop header = info;
    calls.destroyWriteStruct(&writer, &header);
    return true;
}

}  // namespace

bool SaveSurfacePng(const Surface32& surface, const std::string& path) {
    const PngCalls* calls = LoadPng();
    if (!calls || !surface.pixels || surface.width < 1 || surface.height < 1) return false;
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (!file) return false;
    std::vector<png_byte> row(static_cast<size_t>(surface.width) * 3);
    const bool written = WriteRows(*calls, file, surface, row.data());
    const bool closed = std::fclose(file) == 0;
    if (written && closed && std::rename(partial.c_str(), path.c_str()) == 0) return true;
    std::remove(partial.c_str());
    return false;
}

}  // namespace qob::platform
