#include "png/png_encoding.h"

#include <png.h>
#include <zlib.h>

#include <array>
#include <csetjmp>
#include <cstdio>
#include <string>

namespace {

// The palette of an image of few colours, and each pixel's index into it.
struct Indexed {
    std::vector<png_color> palette;
    std::vector<std::uint8_t> indexes;
};

// The colour 0xRRGGBB of pixel i, from RGB triples or from 0xAARRGGBB words.
struct RgbTriples {
    const std::uint8_t* bytes;
    std::uint32_t operator[](std::size_t i) const
    {
        const std::uint8_t* p = bytes + 3 * i;
        return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    }
};
struct PixelWords {
    const std::uint32_t* words;
    std::uint32_t operator[](std::size_t i) const { return words[i] & 0xFFFFFFu; }
};

// The image's colours in order of first appearance and each pixel's index, or
// false when it has more than 256 colours. A picture repeats the colour of the
// pixel before it or above it more often than not (its cells are squares), so
// only a pixel unlike both looks in the table.
template <class Colours>
bool IndexColours(Colours image, std::size_t count, std::size_t width, Indexed& out)
{
    // Open addressing, four slots per palette entry at most: probes stay short.
    constexpr std::size_t kSlots = 1024;
    constexpr std::uint32_t kFree = 0xFFFFFFFFu;  // no 24-bit colour
    std::array<std::uint32_t, kSlots> colours;
    std::array<std::uint8_t, kSlots> indexes{};
    colours.fill(kFree);
    out.indexes.resize(count);
    out.palette.resize(256);
    // Byte stores may alias anything: through restricted pointers the loop keeps
    // its table and counts in registers.
    std::uint8_t* __restrict pixelIndexes = out.indexes.data();
    png_color* __restrict palette = out.palette.data();
    std::size_t used = 0;
    std::uint32_t last = kFree;
    std::uint8_t lastIndex = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t colour = image[i];
        if (colour != last) {
            if (i >= width && image[i - width] == colour) {
                lastIndex = pixelIndexes[i - width];
            } else {
                std::size_t slot = (colour * 2654435761u) >> 22;  // the top 10 bits of a Fibonacci hash
                while (colours[slot] != colour && colours[slot] != kFree) slot = (slot + 1) % kSlots;
                if (colours[slot] == kFree) {
                    if (used == 256) return false;
                    colours[slot] = colour;
                    indexes[slot] = static_cast<std::uint8_t>(used);
                    palette[used++] = png_color{static_cast<png_byte>(colour >> 16), static_cast<png_byte>(colour >> 8),
                                                static_cast<png_byte>(colour)};
                }
                lastIndex = indexes[slot];
            }
            last = colour;
        }
        pixelIndexes[i] = lastIndex;
    }
    out.palette.resize(used);
    return true;
}

void AppendToFile(png_structp png, png_bytep data, png_size_t length)
{
    auto* file = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    file->insert(file->end(), data, data + length);
}

void NoFlush(png_structp) {}

// libpng reports an error by a long jump back here; no object with a destructor
// lives in this frame, so the jump skips none. False with libpng's message in
// `message` (kMessageSize bytes) when it fails.
constexpr std::size_t kMessageSize = 256;
bool Write(std::vector<std::uint8_t>* file, const std::uint8_t* rows, int width, int height, const Indexed* indexed,
           char* message)
{
    std::snprintf(message, kMessageSize, "out of memory");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    png_set_error_fn(
        png, message,
        [](png_structp failed, png_const_charp text) {
            char* into = static_cast<char*>(png_get_error_ptr(failed));
            std::snprintf(into, kMessageSize, "%s", text);
            png_longjmp(failed, 1);
        },
        [](png_structp, png_const_charp) {});
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, file, AppendToFile, NoFlush);
    // Pictures are large areas of one colour: the fastest level finds their runs as
    // well as the slower ones do, and filtering gives it nothing to find.
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_buffer_size(png, 1 << 16);  // fewer, larger IDAT chunks
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 indexed != nullptr ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed != nullptr)
        png_set_PLTE(png, info, indexed->palette.data(), static_cast<int>(indexed->palette.size()));
    png_write_info(png, info);
    const std::uint8_t* const pixels = indexed != nullptr ? indexed->indexes.data() : rows;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * (indexed != nullptr ? 1 : 3);
    for (int y = 0; y < height; ++y) png_write_row(png, pixels + static_cast<std::size_t>(y) * rowBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Pictures of few colours (nearly always) as indexed-colour PNGs: a third of the
// bytes to compress, and smaller files.
template <class Colours>
std::vector<std::uint8_t> Encode(Colours image, const std::uint8_t* rgb, int width, int height)
{
    const std::size_t count = static_cast<std::size_t>(width) * height;
    Indexed indexed;
    const bool fewColours = IndexColours(image, count, static_cast<std::size_t>(width), indexed);
    std::vector<std::uint8_t> triples;
    if (!fewColours && rgb == nullptr) {
        triples.resize(count * 3);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t colour = image[i];
            triples[3 * i] = static_cast<std::uint8_t>(colour >> 16);
            triples[3 * i + 1] = static_cast<std::uint8_t>(colour >> 8);
            triples[3 * i + 2] = static_cast<std::uint8_t>(colour);
        }
        rgb = triples.data();
    }
    std::vector<std::uint8_t> file;
    file.reserve(count / (fewColours ? 2 : 1));
    char message[kMessageSize];
    if (!Write(&file, rgb, width, height, fewColours ? &indexed : nullptr, message))
        throw PngError(std::string("cannot encode the PNG: ") + message);
    return file;
}

void CheckSize(std::size_t size, int width, int height, int perPixel)
{
    if (width <= 0 || height <= 0 || size != static_cast<std::size_t>(width) * height * perPixel)
        throw PngError("a PNG needs width x height pixels");
}

}  // namespace

std::vector<std::uint8_t> EncodePng(std::span<const std::uint8_t> rgb, int width, int height)
{
    CheckSize(rgb.size(), width, height, 3);
    return Encode(RgbTriples{rgb.data()}, rgb.data(), width, height);
}

std::vector<std::uint8_t> EncodePng(std::span<const std::uint32_t> pixels, int width, int height)
{
    CheckSize(pixels.size(), width, height, 1);
    return Encode(PixelWords{pixels.data()}, nullptr, width, height);
}
