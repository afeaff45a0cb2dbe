// The card side of vantrelsrc: a session on one card, its grab, and the
// bounded queue between the library's grab thread and the element's
// streaming thread. The frame callback stamps, decodes into a buffer of the
// element's pool and queues it; the streaming thread takes it from there.
#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include <ORNSDI.h>

#include "VantrelCaps.h"

namespace vantrel {

// Frames waiting for the streaming thread; a full queue drops the newest.
constexpr size_t kQueueDepth = 4;

// Which card to open: a nonzero slot number wins over the index.
struct CardChoice {
  unsigned slot = 0;
  int index = 0;
};

// Frames lost so far, and frames handed on.
struct DropCounts {
  uint64_t byCard = 0;     // gaps in the card's frame numbers (DMA errors among them)
  uint64_t byElement = 0;  // queue full or no buffer
  uint64_t pushed = 0;
  bool operator==(const DropCounts&) const = default;
};

enum class PopResult { Frame, FormatChanged, TimedOut, Flushing };

class VantrelGrab {
 public:
  explicit VantrelGrab(GstElement* element) : element_(element) {}
  ~VantrelGrab() { Close(); }

  // Opens the chosen card and takes its DMA access; on failure `error`
  // holds the message for the user.
  bool Open(const CardChoice& choice, std::string* error);
  void Close();
  bool IsOpen() const { return session_ != nullptr; }
  unsigned Slot() const { return slot_; }

  // The camera status now. False when the card does not answer (pulled).
  bool ReadStatus(ORNSDI_CameraStatus* status);

  // The negotiated frames: format, size and the pool they come from. Stops
  // a running grab whose frames no longer fit.
  bool Configure(const GstVideoInfo& info);
  // Starts grabbing in the configured format. False with `error` set if the
  // library refuses, or `*changed` when the card's video no longer matches.
  bool StartGrab(std::string* error, bool* changed);
  void StopGrab();
  bool Grabbing() const { return grabbing_; }

  // Waits up to `timeout` for the next event of the grab.
  PopResult Pop(GstClockTime timeout, GstBuffer** buffer);
  void SetFlushing(bool flushing);
  DropCounts Drops();

 private:
  static void OnFrame(void* context, ORNSDI_FrameInfo* info);
  GstClockTime RunningTimeNow();
  void TakeFrame(GstClockTime pts, const ORNSDI_FrameInfo& info);
  GstBuffer* Decode(const ORNSDI_FrameInfo& info);
  void ClearQueue();

  GstElement* element_;
  ORNSDI_HANDLE session_ = nullptr;
  unsigned slot_ = 0;
  bool grabbing_ = false;
  ORNSDI_CameraData camera_{};  // filled by ORNSDI_StartGrab; read by the callback
  GstVideoInfo info_{};
  uint32_t pixelFormat_ = 0;
  GstBufferPool* pool_ = nullptr;

  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::deque<GstBuffer*> queue_;
  bool formatChanged_ = false;
  bool flushing_ = false;
  bool haveFrameNumber_ = false;
  uint32_t lastFrameNumber_ = 0;
  DropCounts drops_;
};

}  // namespace vantrel
