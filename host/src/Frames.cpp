// Engine frames, the frame types the engine knows, and the frame queue.
#include "FrameQueue.h"
#include "ImaqEngine.h"
#include "Misuse.h"

#include <cstring>

namespace imaqhost {
namespace {

constexpr FrameTypeInfo kFrameTypes[] = {
    {kFrameTypeRgb24, "RGB 24-bit (blue, green, red)", 3},
    {kFrameTypeYCbCr422, "YCbCr 4:2:2 8-bit (Y0 Cb Y1 Cr)", 2},
};

}  // namespace

const FrameTypeInfo* findFrameType(std::uint32_t code) {
  for (const FrameTypeInfo& type : kFrameTypes)
    if (type.code == code) return &type;
  return nullptr;
}

std::vector<std::uint8_t> FramePool::take(std::size_t bytes) {
  std::vector<std::uint8_t> pixels;
  std::vector<std::vector<std::uint8_t>> stale;  // freed after the lock
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (bytes != bytes_) stale.swap(spare_);  // another geometry: the old buffers fit no frame now
    bytes_ = bytes;
    if (!spare_.empty()) {
      pixels = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (pixels.size() != bytes) pixels.resize(bytes);  // a new buffer, outside the lock
  return pixels;
}

void FramePool::giveBack(std::vector<std::uint8_t>&& pixels) {
  std::vector<std::uint8_t> unkept;  // freed after the lock
  std::lock_guard<std::mutex> hold(lock_);
  if (pixels.size() == bytes_ && spare_.size() < spareLimit_) {
    spare_.push_back(std::move(pixels));
  } else {
    unkept = std::move(pixels);
  }
}

void FramePool::setSpareLimit(std::size_t buffers) {
  std::lock_guard<std::mutex> hold(lock_);
  spareLimit_ = buffers;
  if (spare_.size() > spareLimit_) spare_.resize(spareLimit_);
}

std::size_t FramePool::spareBuffers() const {
  std::lock_guard<std::mutex> hold(lock_);
  return spare_.size();
}

EngineFrame::EngineFrame(const FrameTypeInfo& type, int width, int height, std::shared_ptr<FramePool> pool)
    : type_(type), width_(width), height_(height), pool_(std::move(pool)) {
  if (width <= 0 || height <= 0) misuse("makeFrame: a frame of " + std::to_string(width) + " x " +
                                        std::to_string(height) + " pixels");
  const std::size_t bytes = rowBytes() * std::size_t(height);
  if (pool_) {
    pixels_ = pool_->take(bytes);
  } else {
    pixels_.resize(bytes);
  }
}

EngineFrame::~EngineFrame() {
  if (pool_) pool_->giveBack(std::move(pixels_));
}

void EngineFrame::copyImage(const void* pixels, int width, int height, int x, int y) {
  if (pixels == nullptr) misuse("copyImage: no pixels");
  if (x < 0 || y < 0 || width < 0 || height < 0 || width > width_ - x || height > height_ - y)
    misuse("copyImage: a " + std::to_string(width) + " x " + std::to_string(height) + " region at (" +
           std::to_string(x) + ", " + std::to_string(y) + ") does not fit a " + std::to_string(width_) + " x " +
           std::to_string(height_) + " frame");
  const std::size_t bytes = std::size_t(type_.bytesPerPixel);
  const std::size_t sourceRow = std::size_t(width) * bytes;
  const auto* source = static_cast<const std::uint8_t*>(pixels);
  for (int row = 0; row < height; ++row)
    std::memcpy(pixels_.data() + std::size_t(y + row) * rowBytes() + std::size_t(x) * bytes,
                source + std::size_t(row) * sourceRow, sourceRow);
}

void FrameQueue::setCapacity(std::size_t frames) {
  std::lock_guard<std::mutex> hold(lock_);
  capacity_ = frames == 0 ? 1 : frames;
  while (frames_.size() > capacity_) {
    frames_.pop_front();
    ++dropped_;
  }
}

void FrameQueue::push(std::unique_ptr<EngineFrame> frame) {
  std::unique_ptr<EngineFrame> oldest;  // released after the lock
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (frames_.size() >= capacity_) {
      oldest = std::move(frames_.front());
      frames_.pop_front();
      ++dropped_;
    }
    frames_.push_back(std::move(frame));
  }
  changed_.notify_all();
}

std::vector<std::unique_ptr<EngineFrame>> FrameQueue::take(std::size_t count) {
  std::vector<std::unique_ptr<EngineFrame>> taken;
  std::lock_guard<std::mutex> hold(lock_);
  while (taken.size() < count && !frames_.empty()) {
    taken.push_back(std::move(frames_.front()));
    frames_.pop_front();
  }
  return taken;
}

bool FrameQueue::waitFor(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait_for(hold, timeout, [&] { return frames_.size() >= count || !open_; });
  return frames_.size() >= count;
}

void FrameQueue::open() {
  std::lock_guard<std::mutex> hold(lock_);
  open_ = true;
}

void FrameQueue::close() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = false;
  }
  changed_.notify_all();
}

void FrameQueue::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  frames_.clear();
  dropped_ = 0;
}

std::size_t FrameQueue::available() const {
  std::lock_guard<std::mutex> hold(lock_);
  return frames_.size();
}

unsigned long long FrameQueue::dropped() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dropped_;
}

}  // namespace imaqhost
