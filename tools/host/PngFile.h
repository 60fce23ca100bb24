#pragma once
// PNG snapshots of read-back pixels (libpng's simplified interface).
#include <optional>
#include <string>

#include "tools/host/RgbaImage.h"

namespace mirandel::host {

// Writes 8-bit RGBA, top row first. Answers false and fills `error` on failure.
bool writePng(const std::string& path, const RgbaImage& image, std::string* error);

// Reads any PNG as 8-bit RGBA, top row first; nullopt and `error` on failure.
std::optional<RgbaImage> readPng(const std::string& path, std::string* error);

}  // namespace mirandel::host
