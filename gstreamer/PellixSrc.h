// pellixsrc: the live images of one exchange buffer of a Kelvo camera as a GStreamer source.
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define GST_TYPE_PELLIX_SRC (gst_pellix_src_get_type())
G_DECLARE_FINAL_TYPE(GstPellixSrc, gst_pellix_src, GST, PELLIX_SRC, GstPushSrc)

GST_ELEMENT_REGISTER_DECLARE(pellixsrc);

G_END_DECLS
