#include "VantrelAdaptor.h"

#include "FormatTable.h"
#include "VantrelFormat.h"
#include "VantrelPropListener.h"
#include "VtxDriver.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace {

constexpr std::uint32_t kInitialFormatId = 1;  // " RGB_24bit"
constexpr const char* kFormatChangedId = "imaq:vantrelimaq:videoFormatChanged";
constexpr const char* kNoMemoryId = "imaq:vantrelimaq:noMemory";
constexpr const char* kDeliveryFailedId = "imaq:vantrelimaq:deliveryFailed";

// Whether a frame buffer of `bufferSize` bytes holds the raw frame that the
// record describes. A card that came back in another video mode fills
// smaller buffers than the record says; decoding them would read past them.
bool rawFrameFits(const ORNSDI_CameraData& camera, std::uint32_t bufferSize) {
  const std::uint64_t bytes = VtxRawFrameSize(camera.pixelFormat, camera.status.width, camera.status.height,
                                              camera.status.interlaced == 1, camera.fieldMode);
  return bytes != 0 && bytes <= bufferSize;
}

// Rows at `stride` bytes become packed rows of `rowBytes`, in place: the
// engine takes copyImage's pixels as packed rows.
void packRows(std::uint8_t* image, std::size_t rowBytes, std::size_t stride, std::size_t rows) {
  if (rowBytes == stride) return;
  for (std::size_t row = 1; row < rows; ++row) std::memmove(image + row * rowBytes, image + row * stride, rowBytes);
}

}  // namespace

VantrelAdaptor::VantrelAdaptor(IEngine* engine, const IDeviceEntry* deviceInfo, const char* formatName)
    : IAdaptor(engine),
      cardSession(nullptr),
      decodeFormat(ORNSDI_PIXFMT_BGR24),
      frameType(vantrel::formatRowById(kInitialFormatId)->frameType),
      cameraData(),
      port(0),
      cameraStatus(),
      deviceInfo(deviceInfo),
      formatName(formatName),
      grabStarted(nullptr),
      decodeBufferSize(0) {
  registerListeners();
  grabStarted = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  cardSession = ORNSDI_Init();
  ORNSDI_GetCameraStatus(cardSession, port, &cameraStatus);
}

VantrelAdaptor::~VantrelAdaptor() {
  ORNSDI_Done(cardSession);
  if (grabStarted != nullptr) CloseHandle(grabStarted);
}

void VantrelAdaptor::registerListeners() {
  IPropertySet* properties = manager()->engine()->propertySet();
  const int count = properties->propertyCount();
  std::vector<const char*> names(count > 0 ? std::size_t(count) : 0);
  if (!names.empty()) properties->propertyNames(names.data());
  for (const char* name : names) {
    void* memory = imaqmalloc(sizeof(VantrelPropListener));
    // Without its listener a property would be ignored without a word: the
    // adaptor is not made at all.
    if (memory == nullptr)
      adaptorError(this, kNoMemoryId, "Out of memory for the listener of the property \"%s\".", name);
    properties->addListener(name, new (memory) VantrelPropListener(this));
  }
}

// The camera's size as the card told it at construction: 0 x 0 without a
// camera or a signal. Without a card nothing was told; the nominal 640 x 480
// of "RS170" then gives the engine a size to show.
int VantrelAdaptor::maxFrameWidth() const { return cardSession != nullptr ? cameraStatus.width : kNominalWidth; }

int VantrelAdaptor::maxFrameHeight() const {
  return cardSession != nullptr ? cameraStatus.height : kNominalHeight;
}

// The engine asks on its thread, also while frames come (the stand-in engine
// after frames are counted): what the grab thread found is reported here.
int VantrelAdaptor::frameTypeCode() const {
  findings.handOver(*manager());
  return int(frameType.load());
}

int VantrelAdaptor::bandCount() const {
  const IFormatEntry* format = deviceInfo != nullptr ? deviceInfo->findFormatEntry(formatName) : nullptr;
  if (format == nullptr) return 3;
  const auto* record = dynamic_cast<const VantrelFormat*>(format->adaptorData());
  return record != nullptr ? record->bandCount : 3;
}

const char* VantrelAdaptor::driverDescription() const { return "MyDevice_Driver"; }

const char* VantrelAdaptor::driverVersion() const { return "1.0.0"; }

bool VantrelAdaptor::openCard() { return cardSession != nullptr; }

// The session stays open until the adaptor is destroyed.
bool VantrelAdaptor::closeCard() { return true; }

bool VantrelAdaptor::beginCapture() {
  // Its status is not looked at: without access (no card, or another
  // process holds the channel) the grab start below fails too, and the
  // grabber library's log says why.
  ORNSDI_GetDMAAccess(cardSession, 0);
  // The DMA access just taken stays taken.
  if (manager()->isAcquisitionBusy()) return false;
  // While busy the record is the running grab's: it is written only now
  // that no grab reads it.
  cameraData.pixelFormat = decodeFormat;
  // Whatever a grab that has ended left unreported belongs to no acquisition now.
  findings.clear();
  ResetEvent(grabStarted);
  // Its status is not looked at either: a grab that did not start is no
  // failure for the engine. Capture begins all the same, no frame comes, and
  // the grabber library's log says why.
  ORNSDI_StartGrab(cardSession, port, 0, &cameraData, &VantrelAdaptor::onGrabbedFrame, this);
  SetEvent(grabStarted);
  return true;
}

bool VantrelAdaptor::endCapture() {
  if (manager()->isCaptureRunning()) {
    ORNSDI_StopGrab(cardSession, port);
    ORNSDI_ReleaseDMAAccess(cardSession, port);
    // Only a grab stopped here no longer decodes; one left alone still does.
    releaseDecodeBuffer();
  }
  // The grab has ended: the user hears the rest of what it found before the stop.
  findings.handOver(*manager());
  return true;
}

void VantrelAdaptor::applyFormat(std::int32_t valueId) {
  const vantrel::FormatRow* row = vantrel::formatRowById(valueId);
  if (row == nullptr) return;
  decodeFormat = row->decodeFormat;
  frameType = row->frameType;
}

void VantrelAdaptor::onGrabbedFrame(void* context, ORNSDI_FrameInfo* frameInfo) {
  auto* self = static_cast<VantrelAdaptor*>(context);
  WaitForSingleObject(self->grabStarted, INFINITE);
  // Nothing may unwind into the grabber library's grab thread.
  try {
    self->handleFrame(*frameInfo);
  } catch (const std::exception& failure) {
    self->findings.deviceError(kDeliveryFailedId, failure.what());
  } catch (...) {
    self->findings.deviceError(kDeliveryFailedId, "The frame could not be handed to the engine.");
  }
  // Every callback counts, delivered or not.
  self->manager()->countFrame();
}

void VantrelAdaptor::handleFrame(const ORNSDI_FrameInfo& frameInfo) {
  // A record without pixel data delivers no frame: there is nothing to
  // decode, and the buffer would go to the engine unwritten.
  if (frameInfo.rawFrame == nullptr || frameInfo.status != 0) {
    recordMissingPixels(frameInfo.status);
    return;
  }
  if (!manager()->wantsFrame()) return;
  const std::uint32_t format = decodeFormat;
  const std::uint32_t type = frameType;
  if (!rawFrameFits(cameraData, frameInfo.bufferSize)) {
    findings.deviceError(kFormatChangedId,
                         "The card sends frames of another size than the acquisition was started with; "
                         "the video format changed while the card was away. Start the acquisition again.");
    return;
  }
  decodeAndDeliver(frameInfo.rawFrame, format, type);
}

// A change of video format ends the grab, so it ends the acquisition for the
// engine too; a DMA error costs one frame, and the user is told.
void VantrelAdaptor::recordMissingPixels(std::uint32_t status) {
  if (status == ORNSDI_FRAME_FORMAT_CHANGED) {
    findings.deviceError(kFormatChangedId,
                         "The camera's video format changed and the card stopped grabbing. "
                         "Start the acquisition again.");
    return;
  }
  char message[96];
  std::snprintf(message, sizeof(message), "A frame was lost: the card reported DMA status %u.", unsigned(status));
  findings.frameLost(message);
}

void VantrelAdaptor::decodeAndDeliver(const void* rawFrame, std::uint32_t format, std::uint32_t type) {
  const int width = cameraData.status.width;
  const int height = cameraData.status.height;
  std::int32_t stride = 0;
  ORNSDI_Decode(&cameraData, rawFrame, nullptr, &stride, std::int32_t(format));
  // The decoder never makes a poorer layout than the card sends: a frame goes
  // out only if its type describes what the decoder made (the card keeps the
  // layout of the previous "Format" until capture begins again).
  const std::uint32_t produced = format > cameraData.pixelFormat ? format : cameraData.pixelFormat;
  const vantrel::FormatRow* layout = vantrel::formatRowByDecodeFormat(produced);
  if (layout == nullptr || layout->frameType != type || stride <= 0) {
    findings.frameLost("A frame was skipped: the card still sends the layout of the previous \"Format\".");
    return;
  }
  std::lock_guard<std::mutex> hold(decodeLock);
  std::uint8_t* image = decodeBufferOf(std::size_t(height) * std::size_t(stride));
  if (image == nullptr) {
    findings.frameLost("A frame was lost: no memory to decode it.");
    return;
  }
  ORNSDI_Decode(&cameraData, rawFrame, image, &stride, std::int32_t(format));
  // Rows whose length is not a multiple of 4 bytes (odd widths) are packed.
  packRows(image, std::size_t(width) * layout->bytesPerPixel, std::size_t(stride), std::size_t(height));

  // The engine sees the same calls and pixels as with a fresh buffer per
  // frame: every byte copyImage reads was written by this frame's decode.
  IEngine* engine = manager()->engine();
  IEngineFrame* frame = engine->makeFrame(type, width, height);
  frame->copyImage(image, width, height, 0, 0);
  frame->setTimeStamp(getCurrentTime());
  engine->deliverFrame(frame);
}

// The acquisition's decode buffer, grown to `size` bytes; null without memory.
std::uint8_t* VantrelAdaptor::decodeBufferOf(std::size_t size) {
  if (size <= decodeBufferSize) return decodeBuffer.get();
  decodeBuffer.reset();  // the smaller block goes first, so that its memory can serve the larger
  decodeBufferSize = 0;
  decodeBuffer.reset(new (std::nothrow) std::uint8_t[size]);
  if (decodeBuffer) decodeBufferSize = size;
  return decodeBuffer.get();
}

// The buffer goes unless a frame still uses it: a stop that waited its full
// time for the grab thread returns while that thread's callback may still be
// decoding. Such a buffer stays until the next endCapture or destruction
// (which comes after the session's end has waited for the grab thread).
void VantrelAdaptor::releaseDecodeBuffer() {
  std::unique_lock<std::mutex> hold(decodeLock, std::try_to_lock);
  if (!hold.owns_lock()) return;
  decodeBuffer.reset();
  decodeBufferSize = 0;
}

namespace vantrel {

IAdaptor* createAdaptor(IEngine* engine, const IDeviceEntry* deviceInfo, const char* formatName) {
  void* memory = imaqmalloc(sizeof(VantrelAdaptor));
  if (memory == nullptr) return nullptr;
  try {
    return new (memory) VantrelAdaptor(engine, deviceInfo, formatName);
  } catch (...) {
    imaqfree(memory);
    throw;
  }
}

}  // namespace vantrel
