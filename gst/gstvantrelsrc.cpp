// vantrelsrc: the GObject side. Properties, caps negotiation, the latency
// query, and create(), which takes the frames the grab queued, posts what
// was dropped and rides out mode changes, a pulled card and a lost signal.
#include "gstvantrelsrc.h"

#include <gst/video/video.h>

#include <chrono>
#include <string>
#include <thread>

#include "VantrelCaps.h"
#include "VantrelGrab.h"

GST_DEBUG_CATEGORY_STATIC(vantrel_src_debug);
#define GST_CAT_DEFAULT vantrel_src_debug

using vantrel::CardMode;
using vantrel::PopResult;
using vantrel::VantrelGrab;

enum { PROP_0, PROP_SLOT, PROP_DEVICE_INDEX, PROP_TIMEOUT };

constexpr guint kDefaultTimeoutMs = 5000;

struct _GstVantrelSrc {
  GstPushSrc parent;
  // Properties, under the object lock.
  guint slot;
  gint deviceIndex;
  guint timeoutMs;
  // Streaming state.
  VantrelGrab* grab;
  // The video the caps describe: written on the streaming thread, read by
  // caps and latency queries from any thread, under the object lock.
  CardMode mode;
  bool haveMode;
  vantrel::DropCounts posted;  // drops told to the application so far
};

G_DEFINE_TYPE(GstVantrelSrc, gst_vantrel_src, GST_TYPE_PUSH_SRC)

namespace {

GstClockTime TimeoutOf(GstVantrelSrc* self) {
  GST_OBJECT_LOCK(self);
  const GstClockTime timeout = GstClockTime(self->timeoutMs) * GST_MSECOND;
  GST_OBJECT_UNLOCK(self);
  return timeout;
}

enum class Wait { Ready, Lost, Flushing };

// Waits up to `patience` for the card to settle on a video format. Lost:
// no signal, or (`*cardAnswers` false) a card that does not answer.
Wait WaitForMode(GstVantrelSrc* self, GstClockTime patience, CardMode* mode, bool* cardAnswers) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(patience);
  for (;;) {
    ORNSDI_CameraStatus status;
    *cardAnswers = self->grab->ReadStatus(&status);
    if (*cardAnswers && vantrel::ModeFromStatus(status, mode)) return Wait::Ready;
    if (std::chrono::steady_clock::now() >= deadline) return Wait::Lost;
    GstBuffer* none = nullptr;
    if (self->grab->Pop(20 * GST_MSECOND, &none) == PopResult::Flushing) return Wait::Flushing;
    if (none != nullptr) gst_buffer_unref(none);
  }
}

// The video the caps describe from now on; null: none.
void SetMode(GstVantrelSrc* self, const CardMode* mode) {
  GST_OBJECT_LOCK(self);
  self->haveMode = mode != nullptr;
  self->mode = mode != nullptr ? *mode : CardMode{};
  GST_OBJECT_UNLOCK(self);
}

// The card's state in words, for the error that ends the wait.
void PostLost(GstVantrelSrc* self, bool cardAnswers, guint waitedMs) {
  const unsigned slot = self->grab->Slot();
  if (!cardAnswers) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                      ("The Vantrel card in slot %u was removed and did not come back within %u ms", slot, waitedMs),
                      (nullptr));
  } else {
    GST_ELEMENT_ERROR(self, RESOURCE, READ, ("No video signal on the Vantrel card in slot %u (waited %u ms)", slot, waitedMs),
                      (nullptr));
  }
}

guint WaitedMs(GstClockTime timeout) { return guint(timeout / GST_MSECOND); }

// After the grab ended (mode change, lost signal): waits up to the timeout
// for video, renegotiates if it differs and starts the grab again.
GstFlowReturn Resume(GstVantrelSrc* self) {
  const GstClockTime timeout = TimeoutOf(self);
  for (;;) {
    CardMode mode;
    bool cardAnswers = false;
    switch (WaitForMode(self, timeout, &mode, &cardAnswers)) {
      case Wait::Flushing: return GST_FLOW_FLUSHING;
      case Wait::Lost: PostLost(self, cardAnswers, WaitedMs(timeout)); return GST_FLOW_ERROR;
      case Wait::Ready: break;
    }
    if (!self->haveMode || !(mode == self->mode)) {
      GST_INFO_OBJECT(self, "video now %dx%d%s at %d/%d", mode.width, mode.height, mode.interlaced ? "i" : "p",
                      mode.fpsN, mode.fpsD);
      self->grab->StopGrab();
      SetMode(self, &mode);
      if (!gst_base_src_negotiate(GST_BASE_SRC(self))) return GST_FLOW_NOT_NEGOTIATED;
    }
    std::string error;
    bool changed = false;
    if (self->grab->StartGrab(&error, &changed)) return GST_FLOW_OK;
    if (!changed) {
      GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("%s", error.c_str()), (nullptr));
      return GST_FLOW_ERROR;
    }
  }
}

// No frame for the whole timeout while grabbing. The library restarts a
// grab when a pulled card comes back, so by now the card stayed away, the
// signal is gone, or the card sends nothing: said as an error.
GstFlowReturn NoFrames(GstVantrelSrc* self) {
  const guint waited = WaitedMs(TimeoutOf(self));
  CardMode mode;
  bool cardAnswers = false;
  if (WaitForMode(self, 0, &mode, &cardAnswers) == Wait::Ready) {
    GST_ELEMENT_ERROR(self, RESOURCE, READ,
                      ("No frame from the Vantrel card in slot %u within %u ms", self->grab->Slot(), waited), (nullptr));
  } else {
    PostLost(self, cardAnswers, waited);
  }
  return GST_FLOW_ERROR;
}

// One QoS message for the frames lost since the last one.
void PostDrops(GstVantrelSrc* self, GstBuffer* buffer) {
  const vantrel::DropCounts now = self->grab->Drops();
  if (now.byCard == self->posted.byCard && now.byElement == self->posted.byElement) return;
  const uint64_t lost = (now.byCard - self->posted.byCard) + (now.byElement - self->posted.byElement);
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  const GstClockTime period = GST_BUFFER_DURATION(buffer);
  GstMessage* message = gst_message_new_qos(GST_OBJECT(self), TRUE, pts, GST_CLOCK_TIME_NONE, pts,
                                            GST_CLOCK_TIME_IS_VALID(period) ? period * lost : GST_CLOCK_TIME_NONE);
  gst_message_set_qos_stats(message, GST_FORMAT_BUFFERS, now.pushed, now.byCard + now.byElement);
  // The totals split by who dropped: the card (gaps in its frame numbers,
  // DMA errors) or this element (its queue full).
  gst_structure_set(gst_message_writable_structure(message), "dropped-by-card", G_TYPE_UINT64, now.byCard,
                    "dropped-by-element", G_TYPE_UINT64, now.byElement, nullptr);
  gst_element_post_message(GST_ELEMENT(self), message);
  self->posted = now;
}

// --- GstBaseSrc / GstPushSrc --------------------------------------------

gboolean Start(GstBaseSrc* base) {
  auto* self = GST_VANTREL_SRC(base);
  vantrel::CardChoice choice;
  GST_OBJECT_LOCK(self);
  choice.slot = self->slot;
  choice.index = self->deviceIndex;
  GST_OBJECT_UNLOCK(self);
  std::string error;
  if (!self->grab->Open(choice, &error)) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("%s", error.c_str()), (nullptr));
    return FALSE;
  }
  // A card without a signal has no caps to offer: said at once.
  bool cardAnswers = false;
  CardMode mode;
  if (WaitForMode(self, 200 * GST_MSECOND, &mode, &cardAnswers) != Wait::Ready) {
    PostLost(self, cardAnswers, 200);
    self->grab->Close();
    return FALSE;
  }
  SetMode(self, &mode);
  self->posted = {};
  return TRUE;
}

gboolean Stop(GstBaseSrc* base) {
  auto* self = GST_VANTREL_SRC(base);
  self->grab->Close();
  SetMode(self, nullptr);
  return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter) {
  auto* self = GST_VANTREL_SRC(base);
  GST_OBJECT_LOCK(self);
  GstCaps* caps = vantrel::CapsForMode(self->haveMode ? &self->mode : nullptr);
  GST_OBJECT_UNLOCK(self);
  if (filter != nullptr) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

gboolean SetCaps(GstBaseSrc* base, GstCaps* caps) {
  auto* self = GST_VANTREL_SRC(base);
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, caps) || !self->grab->Configure(info)) {
    GST_ERROR_OBJECT(self, "cannot deliver %" GST_PTR_FORMAT, caps);
    return FALSE;
  }
  return TRUE;
}

gboolean Query(GstBaseSrc* base, GstQuery* query) {
  auto* self = GST_VANTREL_SRC(base);
  if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
    // A frame is whole one period after its capture began; up to a queue's
    // worth of frames may wait for the streaming thread.
    GST_OBJECT_LOCK(self);
    const GstClockTime period = self->haveMode ? vantrel::FramePeriod(self->mode) : GST_CLOCK_TIME_NONE;
    GST_OBJECT_UNLOCK(self);
    if (GST_CLOCK_TIME_IS_VALID(period)) {
      gst_query_set_latency(query, TRUE, period, period * vantrel::kQueueDepth);
      return TRUE;
    }
  }
  return GST_BASE_SRC_CLASS(gst_vantrel_src_parent_class)->query(base, query);
}

gboolean Unlock(GstBaseSrc* base) {
  GST_VANTREL_SRC(base)->grab->SetFlushing(true);
  return TRUE;
}

gboolean UnlockStop(GstBaseSrc* base) {
  GST_VANTREL_SRC(base)->grab->SetFlushing(false);
  return TRUE;
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out) {
  auto* self = GST_VANTREL_SRC(push);
  if (!self->grab->Grabbing()) {
    const GstFlowReturn started = Resume(self);
    if (started != GST_FLOW_OK) return started;
  }
  for (;;) {
    GstBuffer* buffer = nullptr;
    switch (self->grab->Pop(TimeoutOf(self), &buffer)) {
      case PopResult::Frame:
        PostDrops(self, buffer);
        *out = buffer;
        return GST_FLOW_OK;
      case PopResult::Flushing:
        return GST_FLOW_FLUSHING;
      case PopResult::TimedOut:
        return NoFrames(self);
      case PopResult::FormatChanged: {
        const GstFlowReturn resumed = Resume(self);
        if (resumed != GST_FLOW_OK) return resumed;
        break;
      }
    }
  }
}

// --- GObject ------------------------------------------------------------

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* param) {
  auto* self = GST_VANTREL_SRC(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_SLOT: self->slot = g_value_get_uint(value); break;
    case PROP_DEVICE_INDEX: self->deviceIndex = g_value_get_int(value); break;
    case PROP_TIMEOUT: self->timeoutMs = g_value_get_uint(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param); break;
  }
  GST_OBJECT_UNLOCK(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* param) {
  auto* self = GST_VANTREL_SRC(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_SLOT: g_value_set_uint(value, self->slot); break;
    case PROP_DEVICE_INDEX: g_value_set_int(value, self->deviceIndex); break;
    case PROP_TIMEOUT: g_value_set_uint(value, self->timeoutMs); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param); break;
  }
  GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object) {
  delete GST_VANTREL_SRC(object)->grab;
  G_OBJECT_CLASS(gst_vantrel_src_parent_class)->finalize(object);
}

}  // namespace

static void gst_vantrel_src_class_init(GstVantrelSrcClass* klass) {
  auto* object = G_OBJECT_CLASS(klass);
  auto* element = GST_ELEMENT_CLASS(klass);
  auto* base = GST_BASE_SRC_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = Finalize;
  const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
  g_object_class_install_property(
      object, PROP_SLOT,
      g_param_spec_uint("slot", "Slot", "Slot number of the card to open (0: use device-index)", 0, G_MAXUINT, 0, flags));
  g_object_class_install_property(
      object, PROP_DEVICE_INDEX,
      g_param_spec_int("device-index", "Device index", "Index of the card in enumeration order, used when slot is 0", 0,
                       G_MAXINT, 0, flags));
  g_object_class_install_property(
      object, PROP_TIMEOUT,
      g_param_spec_uint("timeout", "Timeout",
                        "Milliseconds to wait for a pulled card or a lost signal to come back before an error", 1,
                        G_MAXUINT, kDefaultTimeoutMs, flags));
  gst_element_class_set_static_metadata(element, "Vantrel HD-SDI source", "Source/Video",
                                        "Live video from a Vantrel HD-SDI capture card", "Vantrel");
  GstCaps* caps = vantrel::CapsForMode(nullptr);
  gst_element_class_add_pad_template(element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
  gst_caps_unref(caps);
  base->start = Start;
  base->stop = Stop;
  base->get_caps = GetCaps;
  base->set_caps = SetCaps;
  base->query = Query;
  base->unlock = Unlock;
  base->unlock_stop = UnlockStop;
  GST_PUSH_SRC_CLASS(klass)->create = Create;
  GST_DEBUG_CATEGORY_INIT(vantrel_src_debug, "vantrelsrc", 0, "Vantrel HD-SDI source");
}

static void gst_vantrel_src_init(GstVantrelSrc* self) {
  self->slot = 0;
  self->deviceIndex = 0;
  self->timeoutMs = kDefaultTimeoutMs;
  self->grab = new VantrelGrab(GST_ELEMENT(self));
  self->mode = CardMode{};
  self->haveMode = false;
  self->posted = {};
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
