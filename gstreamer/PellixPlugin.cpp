// The plugin libgstpellix.so: it holds one element, pellixsrc.
#include "PellixSrc.h"

namespace {

gboolean PluginInit(GstPlugin* plugin)
{
    return GST_ELEMENT_REGISTER(pellixsrc, plugin);
}

} // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, pellix, "Live images of Kelvo smart cameras through libpellix",
                  PluginInit, PELLIX_VERSION_TEXT, "Proprietary", "Pellix", "Pellix for Linux")
