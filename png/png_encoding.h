#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

// PNG files of pictures, through libpng: the one encoder the runner and the
// Python package share. Kept out of the sim library so that only what writes
// pictures links libpng.

class PngError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A PNG of width x height pixels from their RGB triples, rows top to bottom:
// indexed colour (8 bits) when they have at most 256 colours, else 8-bit RGB;
// either decodes to the same RGB. Throws PngError when the size does not match
// or libpng fails.
std::vector<std::uint8_t> EncodePng(std::span<const std::uint8_t> rgb, int width, int height);
// The same from 32-bit pixels 0xAARRGGBB (the painter's), alpha ignored.
std::vector<std::uint8_t> EncodePng(std::span<const std::uint32_t> pixels, int width, int height);
