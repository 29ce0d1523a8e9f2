#include "png_encoding.h"

#include <png.h>

#include <string>

std::vector<std::uint8_t> EncodePng(std::span<const std::uint8_t> rgb, int width, int height)
{
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<std::size_t>(width) * height * 3)
        throw PngError("a PNG needs width x height RGB pixels");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    // Room for the largest file these pixels can make, written in one call, then cut
    // to the size written.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    std::vector<std::uint8_t> file(size);
    const bool written = png_image_write_to_memory(&image, file.data(), &size, 0, rgb.data(), 0, nullptr) != 0;
    const std::string message = image.message;
    png_image_free(&image);
    if (!written) throw PngError("cannot encode the PNG: " + message);
    file.resize(size);
    return file;
}
