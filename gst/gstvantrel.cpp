// The plugin gstvantrel: one element, vantrelsrc.
#include <gst/gst.h>

#include "gstvantrelsrc.h"

#define PACKAGE "vantrel"

static gboolean plugin_init(GstPlugin* plugin) {
  return gst_element_register(plugin, "vantrelsrc", GST_RANK_NONE, GST_TYPE_VANTREL_SRC);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, vantrel, "Vantrel HD-SDI capture card", plugin_init,
                  VANTREL_VERSION, "Proprietary", "Vantrel", "https://vantrel.invalid")
