#include "FrameFiles.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <png.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace tool {
namespace {

std::string baseName(unsigned long long number) {
  char name[32];
  std::snprintf(name, sizeof(name), "frame_%04llu", number);
  return name;
}

// Rows of blue-green-red pixels as a PNG file (RGB colour type).
void writeBgrPng(const std::filesystem::path& file, const std::uint8_t* pixels, int width, int height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_BGR;
  image.flags = PNG_IMAGE_FLAG_FAST;  // fast compression: the images keep up with the card
  if (png_image_write_to_file(&image, file.c_str(), 0, pixels, 0, nullptr) == 0)
    throw std::runtime_error("cannot write " + file.string() + ": " + image.message);
}

// YCrCb 4:2:2 (Y0 Cb Y1 Cr, BT.601 studio range) to blue-green-red rows.
std::vector<std::uint8_t> ycbcrToBgr(const std::uint8_t* yuyv, int width, int height) {
  std::vector<std::uint8_t> argb(std::size_t(width) * std::size_t(height) * 4);
  std::vector<std::uint8_t> bgr(std::size_t(width) * std::size_t(height) * 3);
  libyuv::YUY2ToARGB(yuyv, width * 2, argb.data(), width * 4, width, height);
  libyuv::ARGBToRGB24(argb.data(), width * 4, bgr.data(), width * 3, width, height);
  return bgr;
}

void writeBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

FrameFiles::FrameFiles(std::filesystem::path folder) : folder_(std::move(folder)) {
  std::error_code failed;
  std::filesystem::create_directories(folder_, failed);
  if (failed) throw std::runtime_error("cannot create " + folder_.string() + ": " + failed.message());
  csv_.open(folder_ / "frames.csv");
  if (!csv_) throw std::runtime_error("cannot write " + (folder_ / "frames.csv").string());
  csv_ << "frame,time_stamp_s,width,height,frame_type\n";
}

std::string FrameFiles::imageName(unsigned long long number) { return baseName(number) + ".png"; }

void FrameFiles::write(const imaqhost::EngineFrame& frame) {
  const std::string base = baseName(frame.number());
  const std::uint8_t* pixels = frame.pixels().data();
  if (frame.frameType() == imaqhost::kFrameTypeYCbCr422) {
    writeBytes(folder_ / (base + ".yuv"), frame.pixels());
    const std::vector<std::uint8_t> bgr = ycbcrToBgr(pixels, frame.width(), frame.height());
    writeBgrPng(folder_ / (base + ".png"), bgr.data(), frame.width(), frame.height());
  } else {
    writeBgrPng(folder_ / (base + ".png"), pixels, frame.width(), frame.height());
  }
  char line[128];
  std::snprintf(line, sizeof(line), "%llu,%.6f,%d,%d,0x%08X\n", frame.number(), frame.timeStamp(), frame.width(),
                frame.height(), unsigned(frame.frameType()));
  csv_ << line << std::flush;
  if (!csv_) throw std::runtime_error("cannot write " + (folder_ / "frames.csv").string());
}

}  // namespace tool
