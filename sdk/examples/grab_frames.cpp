// Grabs frames from the first Vantrel card with the installed grabber
// library: opens the card, shows the camera status, takes DMA access, grabs
// for a few seconds (first argument, default 2), counts the frames and stops.
// Exit status: 0 frames arrived, 1 grabbing failed, 2 no card.
// On Linux, VANTREL_SIMCARD=1080p60 (for example) gives it a simulated card.
#include <ORNSDI.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

struct Counts {
  std::atomic<unsigned> frames{0};
  std::atomic<unsigned> dmaErrors{0};
  std::atomic<bool> formatChanged{false};
};

// Runs on the library's grab thread; the frame buffer is valid only here.
void OnFrame(void* context, ORNSDI_FrameInfo* frame) {
  auto* counts = static_cast<Counts*>(context);
  if (frame->status == 0) {
    ++counts->frames;
  } else if (frame->status == ORNSDI_FRAME_FORMAT_CHANGED) {
    counts->formatChanged = true;  // the grab has stopped; start it again to go on
  } else {
    ++counts->dmaErrors;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 2;
  ORNSDI_HANDLE card = ORNSDI_Init();
  if (!card) {
    std::puts("No Vantrel card found");
    return 2;
  }
  ORNSDI_CameraStatus status{};
  if (ORNSDI_GetCameraStatus(card, 0, &status) == ORNSDI_OK) {
    std::printf("Camera: %ux%u%s, %u frames/s, signal %s\n", unsigned(status.width), unsigned(status.height),
                status.interlaced ? " interlaced" : "", unsigned(status.frameRate),
                status.signalPresent ? "present" : "absent");
  }
  uint32_t result = ORNSDI_GetDMAAccess(card, 0);
  if (result != ORNSDI_OK) {
    std::printf("No DMA access (status %u)\n", unsigned(result));
    ORNSDI_Done(card);
    return 1;
  }
  ORNSDI_CameraData camera{};
  camera.pixelFormat = ORNSDI_PIXFMT_YCRCB422_8;
  Counts counts;
  result = ORNSDI_StartGrab(card, 0, 0, &camera, OnFrame, &counts);
  if (result == ORNSDI_OK) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    ORNSDI_StopGrab(card, 0);
    std::printf("Grabbed %u frames of %ux%u, %u DMA errors%s\n", counts.frames.load(),
                unsigned(camera.status.width), unsigned(camera.status.height), counts.dmaErrors.load(),
                counts.formatChanged ? ", video format changed" : "");
  } else {
    std::printf("Grab not started (status %u)\n", unsigned(result));
  }
  ORNSDI_ReleaseDMAAccess(card, 0);
  ORNSDI_Done(card);
  return result == ORNSDI_OK && counts.frames > 0 ? 0 : 1;
}
