#include "tools/host/PngFile.h"

#include <png.h>

#include <cstring>

namespace mirandel::host {

bool writePng(const std::string& path, const RgbaImage& image, std::string* error) {
  if (image.width == 0 || image.height == 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 4) {
    if (error != nullptr) *error = "image size does not match its pixels";
    return false;
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = PNG_FORMAT_RGBA;
  const png_int_32 stride = static_cast<png_int_32>(image.width * 4);
  if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), stride, nullptr)) {
    if (error != nullptr) *error = std::string("writing ") + path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}

std::optional<RgbaImage> readPng(const std::string& path, std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    if (error != nullptr) *error = std::string("reading ") + path + ": " + png.message;
    png_image_free(&png);
    return std::nullopt;
  }
  png.format = PNG_FORMAT_RGBA;
  RgbaImage image;
  image.width = png.width;
  image.height = png.height;
  image.pixels.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
    if (error != nullptr) *error = std::string("decoding ") + path + ": " + png.message;
    png_image_free(&png);
    return std::nullopt;
  }
  return image;
}

}  // namespace mirandel::host
