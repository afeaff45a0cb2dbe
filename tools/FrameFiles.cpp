#include "FrameFiles.h"

#include <fcntl.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace tool {
namespace {

namespace fs = std::filesystem;

std::string baseName(unsigned long long number) {
  char name[32];
  std::snprintf(name, sizeof(name), "frame_%04llu", number);
  return name;
}

[[noreturn]] void cannotWrite(const fs::path& file, int error) {
  throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(error));
}

// Writes all `size` bytes at `offset`: 0, or the error number.
int writeAll(int fd, const void* data, std::size_t size, off_t offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t done = ::pwrite(fd, bytes, size, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return errno;
    bytes += done;
    offset += done;
    size -= std::size_t(done);
  }
  return 0;
}

// The file under its name only once it is whole (see the header).
void writeWhole(const fs::path& file, const void* data, std::size_t size) {
  const std::string part = file.string() + ".part";
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) cannotWrite(file, errno);
  int error = writeAll(fd, data, size, 0);
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(part.c_str(), file.c_str()) != 0) error = errno;
  if (error == 0) return;
  ::unlink(part.c_str());
  cannotWrite(file, error);
}

// Rows of blue-green-red pixels as a PNG file (RGB colour type), encoded in
// memory so that the file is written as writeWhole writes.
std::vector<std::uint8_t> bgrPng(const std::uint8_t* pixels, int width, int height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_BGR;
  image.flags = PNG_IMAGE_FLAG_FAST;  // fast compression: the images keep up with the card
  std::vector<std::uint8_t> png(PNG_IMAGE_PNG_SIZE_MAX(image));
  png_alloc_size_t size = png.size();
  if (png_image_write_to_memory(&image, png.data(), &size, 0, pixels, 0, nullptr) == 0)
    throw std::runtime_error(std::string("cannot encode a PNG image: ") + image.message);
  png.resize(size);
  return png;
}

// YCrCb 4:2:2 (Y0 Cb Y1 Cr, BT.601 studio range) to blue-green-red rows.
std::vector<std::uint8_t> ycbcrToBgr(const std::uint8_t* yuyv, int width, int height) {
  std::vector<std::uint8_t> argb(std::size_t(width) * std::size_t(height) * 4);
  std::vector<std::uint8_t> bgr(std::size_t(width) * std::size_t(height) * 3);
  libyuv::YUY2ToARGB(yuyv, width * 2, argb.data(), width * 4, width, height);
  libyuv::ARGBToRGB24(argb.data(), width * 4, bgr.data(), width * 3, width, height);
  return bgr;
}

}  // namespace

const char* imageKindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::Png: return "png";
    case ImageKind::Raw: return "raw";
    case ImageKind::None: return "none";
  }
  return "";
}

FrameFiles::FrameFiles(fs::path folder, ImageKind kind) : folder_(std::move(folder)), kind_(kind) {
  std::error_code failed;
  fs::create_directories(folder_, failed);
  if (failed) throw std::runtime_error("cannot create " + folder_.string() + ": " + failed.message());
  csv_ = ::open((folder_ / "frames.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (csv_ < 0) cannotWrite(folder_ / "frames.csv", errno);
  appendCsv("frame,time_stamp_s,width,height,frame_type\n");
}

FrameFiles::~FrameFiles() { ::close(csv_); }

std::string FrameFiles::imageName(unsigned long long number, std::uint32_t frameType) const {
  const bool ycbcr = frameType == imaqhost::kFrameTypeYCbCr422;
  switch (kind_) {
    case ImageKind::Png: return baseName(number) + ".png";
    case ImageKind::Raw: return baseName(number) + (ycbcr ? ".yuv" : ".bgr");
    case ImageKind::None: break;
  }
  return "";
}

void FrameFiles::write(const imaqhost::EngineFrame& frame) {
  const fs::path base = folder_ / baseName(frame.number());
  const fs::path raw = base.string() + (frame.frameType() == imaqhost::kFrameTypeYCbCr422 ? ".yuv" : ".bgr");
  const fs::path png = base.string() + ".png";
  char line[128];
  std::snprintf(line, sizeof(line), "%llu,%.6f,%d,%d,0x%08X\n", frame.number(), frame.timeStamp(), frame.width(),
                frame.height(), unsigned(frame.frameType()));
  try {
    if (kind_ == ImageKind::Raw) writeWhole(raw, frame.pixels().data(), frame.pixels().size());
    if (kind_ == ImageKind::Png) writePng(frame, raw, png);
    appendCsv(line);
  } catch (...) {
    // A CSV line for each image and an image for each line.
    std::error_code ignored;
    fs::remove(raw, ignored);
    fs::remove(png, ignored);
    throw;
  }
}

// YCrCb frames: their bytes (`raw`) and an RGB image for viewing.
void FrameFiles::writePng(const imaqhost::EngineFrame& frame, const fs::path& raw, const fs::path& png) {
  const bool ycbcr = frame.frameType() == imaqhost::kFrameTypeYCbCr422;
  if (ycbcr) writeWhole(raw, frame.pixels().data(), frame.pixels().size());
  const std::vector<std::uint8_t> bgr =
      ycbcr ? ycbcrToBgr(frame.pixels().data(), frame.width(), frame.height()) : std::vector<std::uint8_t>();
  const std::vector<std::uint8_t> image =
      bgrPng(ycbcr ? bgr.data() : frame.pixels().data(), frame.width(), frame.height());
  writeWhole(png, image.data(), image.size());
}

void FrameFiles::writeSummary(const std::string& text) const {
  writeWhole(folder_ / "summary.txt", text.data(), text.size());
}

// A line that does not fit is cut off again: the file ends with whole lines.
void FrameFiles::appendCsv(const std::string& line) {
  const int error = writeAll(csv_, line.data(), line.size(), csvLength_);
  if (error != 0) {
    if (::ftruncate(csv_, csvLength_) != 0) {
      // The part of the line stays; the error that caused it is reported.
    }
    cannotWrite(folder_ / "frames.csv", error);
  }
  csvLength_ += off_t(line.size());
}

}  // namespace tool
