#include "jobstream/png_write.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vexo::jobstream {
namespace {

// libpng reports errors by longjmp; nothing with a destructor lives between
// setjmp and the library calls, and the rows are all prepared beforehand.
bool encode(std::FILE* file, unsigned width, unsigned height, int depth, png_bytep* rows)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void writeRows(const std::string& path, unsigned width, unsigned height, int depth, std::vector<png_bytep>& rows)
{
    if (width == 0 || height == 0)
        throw std::runtime_error(path + ": cannot write an empty image");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error(path + ": " + std::strerror(errno));
    bool encoded = encode(file, width, height, depth, rows.data());
    bool closed = std::fclose(file) == 0;
    if (!encoded || !closed)
        throw std::runtime_error(path + ": writing the PNG failed");
}

}  // namespace

void writePng(const std::string& path, const Bitmap& bitmap)
{
    // In a 1-bit gray PNG 0 is black: the inverse of the printer's bits.
    std::vector<std::uint8_t> inverted(bitmap.bits.size());
    for (std::size_t i = 0; i < inverted.size(); ++i)
        inverted[i] = static_cast<std::uint8_t>(~bitmap.bits[i]);
    std::vector<png_bytep> rows(bitmap.height);
    for (unsigned long y = 0; y < bitmap.height; ++y)
        rows[y] = inverted.data() + y * bitmap.stride();
    writeRows(path, static_cast<unsigned>(bitmap.width), static_cast<unsigned>(bitmap.height), 1, rows);
}

void writeGrayPng(const std::string& path, unsigned width, unsigned height, const std::uint8_t* pixels)
{
    std::vector<png_bytep> rows(height);
    for (unsigned y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(pixels + static_cast<std::size_t>(y) * width);
    writeRows(path, width, height, 8, rows);
}

}  // namespace vexo::jobstream
