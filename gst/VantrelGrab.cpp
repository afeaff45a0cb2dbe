#include "VantrelGrab.h"

#include <chrono>
#include <cstring>

namespace vantrel {

namespace {

constexpr uint8_t kPort = 0;

// The session on the card of `choice`, or null with the reason in `error`.
ORNSDI_HANDLE OpenChosen(const CardChoice& choice, unsigned* slot, std::string* error) {
  ORNSDI_ENUM_HANDLE list = nullptr;
  if (ORNSDI_EnumOpen(&list) != ORNSDI_OK || list == nullptr) {
    *error = "No Vantrel card found";
    return nullptr;
  }
  ORNSDI_HANDLE session = nullptr;
  bool found = false;
  ORNSDI_EnumData record{};
  record.size = sizeof(record);
  for (int index = 0; !found && ORNSDI_EnumNext(list, &record) == ORNSDI_OK; ++index) {
    found = choice.slot != 0 ? record.slotNumber == choice.slot : index == choice.index;
    if (found) {
      *slot = record.slotNumber;
      session = ORNSDI_InitByHandle(record.detailBlock);
    }
    record.size = sizeof(record);
  }
  ORNSDI_EnumClose(list);
  if (!found) {
    *error = choice.slot != 0 ? "No Vantrel card in slot " + std::to_string(choice.slot)
                              : "No Vantrel card at index " + std::to_string(choice.index);
  } else if (session == nullptr) {
    *error = "The Vantrel card in slot " + std::to_string(*slot) + " does not open";
  }
  return session;
}

// Moves each 10-bit sample (in the low bits of its 16-bit unit) to the top,
// where Y210 keeps it.
void ShiftToTop(GstVideoFrame* frame) {
  const int width = GST_VIDEO_FRAME_WIDTH(frame);
  const int height = GST_VIDEO_FRAME_HEIGHT(frame);
  auto* base = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
  const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(base + size_t(y) * size_t(stride));
    for (int i = 0; i < 2 * width; ++i) row[i] = uint16_t(row[i] << 6);
  }
}

}  // namespace

bool VantrelGrab::Open(const CardChoice& choice, std::string* error) {
  Close();
  session_ = OpenChosen(choice, &slot_, error);
  if (session_ == nullptr) return false;
  const uint32_t result = ORNSDI_GetDMAAccess(session_, kPort);
  if (result != ORNSDI_OK) {
    *error = "No DMA access on the card in slot " + std::to_string(slot_) + " (status " + std::to_string(result) + ")";
    Close();
    return false;
  }
  return true;
}

void VantrelGrab::Close() {
  if (session_ == nullptr) return;
  StopGrab();
  ORNSDI_ReleaseDMAAccess(session_, kPort);
  ORNSDI_Done(session_);
  session_ = nullptr;
  if (pool_ != nullptr) {
    gst_buffer_pool_set_active(pool_, FALSE);
    gst_object_unref(pool_);
    pool_ = nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ClearQueue();
}

bool VantrelGrab::ReadStatus(ORNSDI_CameraStatus* status) {
  *status = {};
  return session_ != nullptr && ORNSDI_GetCameraStatus(session_, kPort, status) == ORNSDI_OK;
}

bool VantrelGrab::Configure(const GstVideoInfo& info) {
  uint32_t pixelFormat = 0;
  if (!LayoutForFormat(GST_VIDEO_INFO_FORMAT(&info), &pixelFormat)) return false;
  StopGrab();
  GstBufferPool* pool = gst_video_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool);
  GstCaps* caps = gst_video_info_to_caps(&info);
  gst_buffer_pool_config_set_params(config, caps, guint(GST_VIDEO_INFO_SIZE(&info)), 2, 0);
  gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
  gst_caps_unref(caps);
  if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
    gst_object_unref(pool);
    return false;
  }
  if (pool_ != nullptr) {
    gst_buffer_pool_set_active(pool_, FALSE);
    gst_object_unref(pool_);
  }
  pool_ = pool;
  info_ = info;
  pixelFormat_ = pixelFormat;
  return true;
}

bool VantrelGrab::StartGrab(std::string* error, bool* changed) {
  *changed = false;
  if (grabbing_) return true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearQueue();
    formatChanged_ = false;
    haveFrameNumber_ = false;
  }
  camera_ = {};
  camera_.pixelFormat = pixelFormat_;
  camera_.fieldMode = 0;  // both fields, interleaved into one frame
  const uint32_t result = ORNSDI_StartGrab(session_, kPort, 0, &camera_, OnFrame, this);
  if (result != ORNSDI_OK) {
    *error = "The grab on the card in slot " + std::to_string(slot_) + " did not start (status " +
             std::to_string(result) + ")";
    return false;
  }
  grabbing_ = true;
  // The video may have changed between the negotiation and the start.
  if (camera_.status.width != GST_VIDEO_INFO_WIDTH(&info_) || camera_.status.height != GST_VIDEO_INFO_HEIGHT(&info_)) {
    StopGrab();
    *changed = true;
    return false;
  }
  return true;
}

void VantrelGrab::StopGrab() {
  if (!grabbing_) return;
  ORNSDI_StopGrab(session_, kPort);
  grabbing_ = false;
}

PopResult VantrelGrab::Pop(GstClockTime timeout, GstBuffer** buffer) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool ready = changed_.wait_for(lock, std::chrono::nanoseconds(timeout),
                                       [this] { return flushing_ || formatChanged_ || !queue_.empty(); });
  if (flushing_) return PopResult::Flushing;
  if (!queue_.empty()) {
    *buffer = queue_.front();
    queue_.pop_front();
    ++drops_.pushed;
    return PopResult::Frame;
  }
  if (formatChanged_) {
    formatChanged_ = false;
    grabbing_ = false;  // the library stopped the grab itself
    return PopResult::FormatChanged;
  }
  return ready ? PopResult::Flushing : PopResult::TimedOut;
}

void VantrelGrab::SetFlushing(bool flushing) {
  std::lock_guard<std::mutex> lock(mutex_);
  flushing_ = flushing;
  if (!flushing) ClearQueue();
  changed_.notify_all();
}

DropCounts VantrelGrab::Drops() {
  std::lock_guard<std::mutex> lock(mutex_);
  return drops_;
}

void VantrelGrab::ClearQueue() {
  for (GstBuffer* buffer : queue_) gst_buffer_unref(buffer);
  queue_.clear();
}

GstClockTime VantrelGrab::RunningTimeNow() {
  GstClock* clock = gst_element_get_clock(element_);
  if (clock == nullptr) return GST_CLOCK_TIME_NONE;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(element_);
  return now >= base ? now - base : 0;
}

// Runs on the library's grab thread. The raw frame is the library's DMA
// buffer, valid only until this returns: it is decoded out here, and the
// clock is read first, so the time stamp does not include the decode.
void VantrelGrab::OnFrame(void* context, ORNSDI_FrameInfo* info) {
  auto* self = static_cast<VantrelGrab*>(context);
  const GstClockTime pts = self->RunningTimeNow();
  if (info->status == ORNSDI_FRAME_FORMAT_CHANGED) {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->formatChanged_ = true;
    self->changed_.notify_all();
    return;
  }
  // A DMA error costs the card this frame; its number is skipped, so the
  // gap before the next frame counts it.
  if (info->status != 0) return;
  // Without a clock the element is not playing: nothing to stamp or deliver.
  if (GST_CLOCK_TIME_IS_VALID(pts)) self->TakeFrame(pts, *info);
}

void VantrelGrab::TakeFrame(GstClockTime pts, const ORNSDI_FrameInfo& info) {
  // The frame number is driverWord0; the card counts every frame it
  // captures, so a gap is what it dropped. A number that goes back (the card
  // came back from removal) starts counting afresh.
  const uint32_t number = info.driverWord0;
  bool discont = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (haveFrameNumber_ && number > lastFrameNumber_) {
      drops_.byCard += number - lastFrameNumber_ - 1;
      discont = number - lastFrameNumber_ > 1;
    } else if (haveFrameNumber_) {
      discont = true;
    }
    haveFrameNumber_ = true;
    lastFrameNumber_ = number;
    if (queue_.size() >= kQueueDepth || flushing_) {
      ++drops_.byElement;
      return;
    }
  }
  GstBuffer* buffer = Decode(info);
  std::lock_guard<std::mutex> lock(mutex_);
  if (buffer == nullptr) {
    ++drops_.byElement;
    return;
  }
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  CardMode mode;
  mode.fpsN = GST_VIDEO_INFO_FPS_N(&info_);
  mode.fpsD = GST_VIDEO_INFO_FPS_D(&info_);
  GST_BUFFER_DURATION(buffer) = FramePeriod(mode);
  GST_BUFFER_OFFSET(buffer) = number;
  GST_BUFFER_OFFSET_END(buffer) = uint64_t(number) + 1;
  if (discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
  queue_.push_back(buffer);
  changed_.notify_all();
}

// The raw frame decoded into a buffer of the pool, or null (no buffer, or a
// raw frame smaller than its size says, which is not read).
GstBuffer* VantrelGrab::Decode(const ORNSDI_FrameInfo& info) {
  const uint64_t rawBytes = uint64_t(RawRowPitch(camera_.pixelFormat, camera_.status.width)) * camera_.status.height;
  if (info.rawFrame == nullptr || info.bufferSize < rawBytes || camera_.status.width != GST_VIDEO_INFO_WIDTH(&info_) ||
      camera_.status.height != GST_VIDEO_INFO_HEIGHT(&info_))
    return nullptr;
  GstBuffer* buffer = nullptr;
  if (pool_ == nullptr || gst_buffer_pool_acquire_buffer(pool_, &buffer, nullptr) != GST_FLOW_OK) return nullptr;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info_, buffer, GST_MAP_WRITE)) {
    gst_buffer_unref(buffer);
    return nullptr;
  }
  int32_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  const uint32_t result = ORNSDI_Decode(&camera_, info.rawFrame, GST_VIDEO_FRAME_PLANE_DATA(&frame, 0), &stride,
                                        int32_t(pixelFormat_));
  if (result == ORNSDI_OK && pixelFormat_ == ORNSDI_PIXFMT_YCRCB422_10) ShiftToTop(&frame);
  gst_video_frame_unmap(&frame);
  if (result != ORNSDI_OK) {
    gst_buffer_unref(buffer);
    return nullptr;
  }
  return buffer;
}

}  // namespace vantrel
