// vantrelsrc: a live source of the frames of a Vantrel HD-SDI card.
#pragma once

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_VANTREL_SRC (gst_vantrel_src_get_type())
G_DECLARE_FINAL_TYPE(GstVantrelSrc, gst_vantrel_src, GST, VANTREL_SRC, GstPushSrc)

G_END_DECLS
