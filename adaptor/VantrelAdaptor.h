// The adaptor object the engine drives for the device: it opens a session on
// the first card at construction, starts and stops grabbing, and turns every
// grabbed frame into an engine frame on the grabber library's grab thread.
// What that thread finds for the user (lost frames, a changed video format)
// is reported on the engine thread (GrabFindings).
#pragma once

#include <windows.h>

#include "GrabFindings.h"
#include "ORNSDI.h"
#include "imaqkit.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class VantrelPropListener;

class VantrelAdaptor : public IAdaptor {
 public:
  VantrelAdaptor(IEngine* engine, const IDeviceEntry* deviceInfo, const char* formatName);
  ~VantrelAdaptor() override;

  int maxFrameWidth() const override;
  int maxFrameHeight() const override;
  int frameTypeCode() const override;
  int bandCount() const override;
  const char* driverDescription() const override;
  const char* driverVersion() const override;
  bool openCard() override;
  bool closeCard() override;
  bool beginCapture() override;
  bool endCapture() override;

  // The frame callback handed to ORNSDI_StartGrab with the adaptor as context.
  static void onGrabbedFrame(void* context, ORNSDI_FrameInfo* frameInfo);

  // The record of the latest grab start: the layout asked of the card and
  // the geometry the library filled in.
  const ORNSDI_CameraData& grabCameraData() const { return cameraData; }

 private:
  friend class VantrelPropListener;

  void registerListeners();
  // The "Format" table row of a value identifier; other identifiers change nothing.
  void applyFormat(std::int32_t valueId);
  void handleFrame(const ORNSDI_FrameInfo& frameInfo);
  void recordMissingPixels(std::uint32_t status);
  void decodeAndDeliver(const void* rawFrame, std::uint32_t format, std::uint32_t type);
  std::uint8_t* decodeBufferOf(std::size_t size);
  void releaseDecodeBuffer();

  ORNSDI_HANDLE cardSession;
  // Written on the engine thread, read by the grab thread's callback.
  std::atomic<std::uint32_t> decodeFormat;
  std::atomic<std::uint32_t> frameType;
  ORNSDI_CameraData cameraData;
  std::uint8_t port;
  ORNSDI_CameraStatus cameraStatus;
  const IDeviceEntry* deviceInfo;
  const char* formatName;
  // Set while no ORNSDI_StartGrab is under way: the callback waits on it so
  // that it reads cameraData only once StartGrab has finished writing it.
  HANDLE grabStarted;
  // Filled on the grab thread, handed over on the engine thread (also from
  // the const frameTypeCode).
  mutable vantrel::GrabFindings findings;
  // Where the grab thread decodes each frame, kept for the whole acquisition
  // (grown when the geometry grows, released when endCapture has stopped the
  // grab, and at destruction): a new block per frame cost its allocation and
  // the first touch of every page. decodeLock is held while a frame uses it:
  // a stop that gave up waiting for the grab thread (its callback still
  // running) leaves the buffer to that callback instead of freeing it under it.
  std::mutex decodeLock;
  std::unique_ptr<std::uint8_t[]> decodeBuffer;
  std::size_t decodeBufferSize;
};

namespace vantrel {

// createInstance: the adaptor in memory from imaqmalloc, or null without memory.
IAdaptor* createAdaptor(IEngine* engine, const IDeviceEntry* deviceInfo, const char* formatName);

}  // namespace vantrel
