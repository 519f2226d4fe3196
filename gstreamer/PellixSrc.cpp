/**
 * SECTION:element-pellixsrc
 *
 * pellixsrc reads the live images of one image exchange buffer of a Kelvo smart camera through
 * libpellix and pushes them as raw video:
 *
 *   gst-launch-1.0 pellixsrc camera=127.0.0.1 num-buffers=30 ! videoconvert ! pngenc snapshot=true ! filesink location=frame.png
 *
 * Camera pixel formats and the caps they give: mono8 GRAY8, RGB24 BGR, RGB32 BGRx, YUV16 YUY2,
 * RGB16 RGB15 (5-5-5, little-endian). The system-colour format (8-bit indices into the fixed
 * system colours) is pushed as GRAY8: the indices pass unchanged and show as grey levels. Caps
 * carry the camera's window size and framerate=0/1: frames come when the camera makes them.
 *
 * Each frame is received from the socket straight into a buffer of the element's pool and pushed
 * as it is. Rows are packed (width times bytes per pixel); where the caps want padded rows (a
 * GRAY8, BGR, YUY2 or RGB15 width whose row is not a multiple of 4 bytes) the buffer carries a
 * video meta with the packed stride, or, when downstream cannot take one, the rows are spread in
 * place. A camera that answers with regions of the image costs one copy more: its regions are
 * laid into one image that persists between frames.
 *
 * The element is a live source. Buffers are stamped with the pipeline clock when the frame has
 * arrived, so the element adds no latency of its own; the buffer offset is the camera's frame
 * counter. When the camera changes its window or format (another client's doing) the caps are
 * negotiated anew and the frame of the change is dropped. A camera that is lost, or whose
 * watchdog stops, ends the stream with an element error that names the library's result; so does
 * a buffer that is not an image, at start. Stopping the pipeline cancels a read that waits.
 */
//
// Who owns what, and which thread runs where:
//   - GstPellixSrc owns a PellixSrcState (C++), made in instance init and deleted in finalize;
//     the state owns the CPellixCamera, which owns the PX client.
//   - The application's threads set and get properties; the state-change thread runs start
//     (opens the camera and reads its geometry) and stop (ends the client); the streaming thread
//     runs negotiation, allocation and create, which reads frames and reopens the camera after a
//     cancel. unlock runs on whichever thread flushes or stops and cancels a waiting read with
//     PXCancelTransfers; since that ends the client's transfers for good, the next create opens
//     the camera anew.
//   - State shared between threads is guarded by PellixSrcState::lock (a std::mutex, which the
//     thread sanitizer sees); a read runs without it so that unlock can cancel it.
#include "PellixSrc.h"

#include <gst/video/video.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "PellixCamera.h"

GST_DEBUG_CATEGORY_STATIC(pellix_src_debug);
#define GST_CAT_DEFAULT pellix_src_debug

namespace {

enum {
    PROP_0,
    PROP_CAMERA,
    PROP_BUFFER_ID,
    PROP_CLIENT_NAME,
    PROP_TIMEOUT,
    PROP_FORCE,
    PROP_ROI,
    PROP_AGENT_CHANNEL,
    PROP_WATCHDOG_STATUS,
};

// Buffers the pool keeps ready: one being filled, one downstream.
constexpr guint kMinPoolBuffers = 2;
// Reads in a row that bring no data before the stream ends.
constexpr uint32_t kMaxEmptyReads = 3;

struct PellixSrcState {
    std::mutex lock;
    pxgst::CameraSettings settings;
    std::string strRoi;
    bool bRoiValid = true;
    bool bForce = false;

    pxgst::CPellixCamera camera;
    bool bFlushing = false;           // between unlock and unlock_stop
    bool bReopen = false;             // the client's transfers were cancelled
    pxgst::ImageGeometry geometry;    // the frames the caps describe
    GstVideoInfo video;               // the negotiated caps
    bool bVideoMeta = false;          // downstream takes a video meta with our stride
    uint32_t dwEmptyReads = 0;        // streaming thread only
};

GstStaticPadTemplate g_srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format = (string) { GRAY8, BGR, BGRx, YUY2, RGB15 }, "
                    "width = (int) [ 1, 65535 ], height = (int) [ 1, 65535 ], framerate = (fraction) 0/1, "
                    "pixel-aspect-ratio = (fraction) 1/1"));

GstVideoFormat VideoFormatOf(uint32_t format)
{
    switch (format) {
    case PX_FORMAT_MONO8:
    case PX_FORMAT_SYSCOLOR8: return GST_VIDEO_FORMAT_GRAY8;
    case PX_FORMAT_RGB24: return GST_VIDEO_FORMAT_BGR;
    case PX_FORMAT_RGB32: return GST_VIDEO_FORMAT_BGRx;
    case PX_FORMAT_YUV16: return GST_VIDEO_FORMAT_YUY2;
    case PX_FORMAT_RGB16: return GST_VIDEO_FORMAT_RGB15;
    default: return GST_VIDEO_FORMAT_UNKNOWN;
    }
}

GstCaps* CapsOf(const pxgst::ImageGeometry& g)
{
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                               gst_video_format_to_string(VideoFormatOf(g.dwFormat)), "width", G_TYPE_INT,
                               static_cast<int>(g.dwWidth), "height", G_TYPE_INT, static_cast<int>(g.dwHeight),
                               "framerate", GST_TYPE_FRACTION, 0, 1, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                               nullptr);
}

// "X,Y,W,H" in decimal, W and H above 0.
bool ParseRoi(const char* text, uint32_t out[4])
{
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *p++ != ',')
            return false;
        if (*p < '0' || *p > '9')
            return false;
        uint64_t value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<uint64_t>(*p++ - '0');
            if (value > 0xFFFFFFFFu)
                return false;
        }
        out[i] = static_cast<uint32_t>(value);
    }
    return *p == '\0' && out[2] > 0 && out[3] > 0;
}

} // namespace

struct _GstPellixSrc {
    GstPushSrc parent;
    PellixSrcState* state;
};

G_DEFINE_TYPE(GstPellixSrc, gst_pellix_src, GST_TYPE_PUSH_SRC)
GST_ELEMENT_REGISTER_DEFINE(pellixsrc, "pellixsrc", GST_RANK_NONE, GST_TYPE_PELLIX_SRC)

namespace {

// The state is published with release and read with acquire: GLib's own barriers order it
// between the thread that made the element and the streaming thread, but the thread sanitizer does
// not see those.
PellixSrcState& State(gpointer object)
{
    return *std::atomic_ref<PellixSrcState*>(GST_PELLIX_SRC(object)->state).load(std::memory_order_acquire);
}

std::string CameraText(PellixSrcState& st)
{
    std::lock_guard<std::mutex> lock(st.lock);
    return "camera '" + st.settings.strCamera + "'";
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    PellixSrcState& st = State(object);
    std::lock_guard<std::mutex> lock(st.lock);
    const char* text = nullptr;
    switch (id) {
    case PROP_CAMERA:
        text = g_value_get_string(value);
        st.settings.strCamera = text != nullptr ? text : "";
        break;
    case PROP_BUFFER_ID:
        text = g_value_get_string(value);
        st.settings.strBufferId = text != nullptr ? text : "";
        break;
    case PROP_CLIENT_NAME:
        text = g_value_get_string(value);
        st.settings.strClientName = text != nullptr ? text : "";
        break;
    case PROP_TIMEOUT: st.settings.dwTimeoutMs = g_value_get_uint(value); break;
    case PROP_FORCE: st.bForce = g_value_get_boolean(value); break;
    case PROP_ROI:
        text = g_value_get_string(value);
        st.strRoi = text != nullptr ? text : "";
        st.settings.bRoi = !st.strRoi.empty();
        st.bRoiValid = !st.settings.bRoi || ParseRoi(st.strRoi.c_str(), st.settings.dwRoi);
        break;
    case PROP_AGENT_CHANNEL: st.settings.bAgentChannel = g_value_get_boolean(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

const char* NullIfEmpty(const std::string& s)
{
    return s.empty() ? nullptr : s.c_str();
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    PellixSrcState& st = State(object);
    if (id == PROP_WATCHDOG_STATUS) {
        g_value_set_uint(value, st.camera.WatchdogStatus());
        return;
    }
    std::lock_guard<std::mutex> lock(st.lock);
    switch (id) {
    case PROP_CAMERA: g_value_set_string(value, NullIfEmpty(st.settings.strCamera)); break;
    case PROP_BUFFER_ID: g_value_set_string(value, NullIfEmpty(st.settings.strBufferId)); break;
    case PROP_CLIENT_NAME: g_value_set_string(value, st.settings.strClientName.c_str()); break;
    case PROP_TIMEOUT: g_value_set_uint(value, st.settings.dwTimeoutMs); break;
    case PROP_FORCE: g_value_set_boolean(value, st.bForce); break;
    case PROP_ROI: g_value_set_string(value, NullIfEmpty(st.strRoi)); break;
    case PROP_AGENT_CHANNEL: g_value_set_boolean(value, st.settings.bAgentChannel); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
}

// Opens the camera with the current properties; posts the error and returns false on failure.
bool OpenCamera(GstPellixSrc* self)
{
    PellixSrcState& st = State(self);
    pxgst::CameraSettings settings;
    std::string roi;
    bool roiValid = true;
    {
        std::lock_guard<std::mutex> lock(st.lock);
        settings = st.settings;
        roi = st.strRoi;
        roiValid = st.bRoiValid;
    }
    const std::string where = "camera '" + settings.strCamera + "'";
    if (!roiValid) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("roi wants X,Y,W,H with W and H above 0, not '%s'", roi.c_str()),
                          (nullptr));
        return false;
    }
    std::string error, warning;
    const uint32_t r = st.camera.Open(settings, &error, &warning);
    if (r != PX_OK) {
        const std::string text = settings.strCamera.empty() ? error : where + ": " + error;
        if (r == PX_ERROR)
            GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("%s", text.c_str()), ("result %u", r));
        else
            GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("%s", text.c_str()), ("result %u", r));
        return false;
    }
    if (!warning.empty())
        GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS, ("%s: %s", where.c_str(), warning.c_str()), (nullptr));
    std::lock_guard<std::mutex> lock(st.lock);
    st.geometry = st.camera.Geometry();
    st.bReopen = false;
    return true;
}

gboolean Start(GstBaseSrc* src)
{
    PellixSrcState& st = State(src);
    st.dwEmptyReads = 0;
    return OpenCamera(GST_PELLIX_SRC(src)) ? TRUE : FALSE;
}

gboolean Stop(GstBaseSrc* src)
{
    PellixSrcState& st = State(src);
    st.camera.Close();
    std::lock_guard<std::mutex> lock(st.lock);
    st.geometry = pxgst::ImageGeometry();
    st.bReopen = false;
    return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* src, GstCaps* filter)
{
    PellixSrcState& st = State(src);
    GstCaps* caps = nullptr;
    {
        std::lock_guard<std::mutex> lock(st.lock);
        if (st.geometry.dwWidth != 0)
            caps = CapsOf(st.geometry);
    }
    if (caps == nullptr)
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(src));
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

gboolean SetCaps(GstBaseSrc* src, GstCaps* caps)
{
    PellixSrcState& st = State(src);
    GstVideoInfo video;
    if (!gst_video_info_from_caps(&video, caps))
        return FALSE;
    std::lock_guard<std::mutex> lock(st.lock);
    st.video = video;
    return TRUE;
}

gboolean DecideAllocation(GstBaseSrc* src, GstQuery* query)
{
    PellixSrcState& st = State(src);
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstVideoInfo video;
    if (caps == nullptr || !gst_video_info_from_caps(&video, caps))
        return FALSE;
    guint64 size = 0;
    {
        std::lock_guard<std::mutex> lock(st.lock);
        // Room for what a read may write, and for the caps' rows when they are spread in place.
        size = st.geometry.qwRoom > video.size ? st.geometry.qwRoom : video.size;
        st.bVideoMeta = gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    }
    // Our own pool of system memory (downstream's alignment kept): a pool downstream proposes
    // has its own idea of the rows, and the camera writes packed rows.
    GstAllocationParams params;
    gst_allocation_params_init(&params);
    if (gst_query_get_n_allocation_params(query) > 0)
        gst_query_parse_nth_allocation_param(query, 0, nullptr, &params);
    GstBufferPool* pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(size), kMinPoolBuffers, 0);
    gst_buffer_pool_config_set_allocator(config, nullptr, &params);
    if (!gst_buffer_pool_set_config(pool, config)) {
        gst_object_unref(pool);
        return FALSE;
    }
    if (gst_query_get_n_allocation_pools(query) > 0)
        gst_query_set_nth_allocation_pool(query, 0, pool, static_cast<guint>(size), kMinPoolBuffers, 0);
    else
        gst_query_add_allocation_pool(query, pool, static_cast<guint>(size), kMinPoolBuffers, 0);
    gst_object_unref(pool);
    return TRUE;
}

// New caps for the camera's current geometry, and a pool that fits them.
GstFlowReturn Renegotiate(GstPellixSrc* self)
{
    PellixSrcState& st = State(self);
    pxgst::ImageGeometry g = st.camera.Geometry();
    {
        std::lock_guard<std::mutex> lock(st.lock);
        st.geometry = g;
    }
    if (gst_base_src_negotiate(GST_BASE_SRC(self)))
        return GST_FLOW_OK;
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                      ("the camera changed to %s %ux%u, which downstream does not take",
                       gst_video_format_to_string(VideoFormatOf(g.dwFormat)), g.dwWidth, g.dwHeight),
                      (nullptr));
    return GST_FLOW_NOT_NEGOTIATED;
}

// Makes a buffer holding a received frame what the caps say, and stamps it.
void FinishBuffer(GstPellixSrc* self, GstBuffer* buffer, uint64_t serial)
{
    PellixSrcState& st = State(self);
    pxgst::ImageGeometry g;
    GstVideoInfo video;
    bool videoMeta = false;
    {
        std::lock_guard<std::mutex> lock(st.lock);
        g = st.geometry;
        video = st.video;
        videoMeta = st.bVideoMeta;
    }
    const gsize packed = g.RowBytes();
    const gsize stride = GST_VIDEO_INFO_PLANE_STRIDE(&video, 0);
    if (packed == stride) {
        gst_buffer_set_size(buffer, g.FrameBytes());
    } else if (videoMeta) {
        gsize offset[GST_VIDEO_MAX_PLANES] = {0};
        gint strides[GST_VIDEO_MAX_PLANES] = {static_cast<gint>(packed)};
        gst_buffer_set_size(buffer, g.FrameBytes());
        gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_INFO_FORMAT(&video), g.dwWidth,
                                       g.dwHeight, 1, offset, strides);
    } else {
        // Wider rows: from the last row up, each moves to where the caps want it.
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            for (uint32_t row = g.dwHeight; row-- > 1;)
                std::memmove(map.data + row * stride, map.data + row * packed, packed);
            gst_buffer_unmap(buffer, &map);
        }
        gst_buffer_set_size(buffer, GST_VIDEO_INFO_SIZE(&video));
    }
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    if (GstClock* clock = gst_element_get_clock(GST_ELEMENT(self))) {
        const GstClockTime now = gst_clock_get_time(clock);
        const GstClockTime base = gst_element_get_base_time(GST_ELEMENT(self));
        pts = now > base ? now - base : 0;
        gst_object_unref(clock);
    }
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_OFFSET(buffer) = serial;
    GST_BUFFER_OFFSET_END(buffer) = serial + 1;
}

GstFlowReturn Create(GstPushSrc* src, GstBuffer** out)
{
    GstPellixSrc* self = GST_PELLIX_SRC(src);
    PellixSrcState& st = State(self);
    for (;;) {
        bool reopen = false, force = false;
        {
            std::lock_guard<std::mutex> lock(st.lock);
            if (st.bFlushing)
                return GST_FLOW_FLUSHING;
            reopen = st.bReopen;
            force = st.bForce;
        }
        if (reopen) {
            if (!OpenCamera(self))
                return GST_FLOW_ERROR;
            if (GstFlowReturn r = Renegotiate(self); r != GST_FLOW_OK)
                return r;
        }

        GstBufferPool* pool = gst_base_src_get_buffer_pool(GST_BASE_SRC(src));
        if (pool == nullptr)
            return GST_FLOW_NOT_NEGOTIATED;
        GstBuffer* buffer = nullptr;
        const GstFlowReturn acquired = gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr);
        gst_object_unref(pool);
        if (acquired != GST_FLOW_OK)
            return acquired;
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            gst_buffer_unref(buffer);
            GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("cannot write into a buffer of the pool"), (nullptr));
            return GST_FLOW_ERROR;
        }
        if (map.size < st.camera.Geometry().qwRoom) {
            // A pool of an older geometry: make one that fits.
            gst_buffer_unmap(buffer, &map);
            gst_buffer_unref(buffer);
            if (GstFlowReturn r = Renegotiate(self); r != GST_FLOW_OK)
                return r;
            continue;
        }
        const pxgst::ReadOutcome o = st.camera.Read(force, map.data);
        gst_buffer_unmap(buffer, &map);
        {
            std::lock_guard<std::mutex> lock(st.lock);
            if (st.bFlushing || o.dwResult == PX_END_OF_TRANSFERS) {
                gst_buffer_unref(buffer);
                return GST_FLOW_FLUSHING;
            }
        }
        if (o.dwResult != PX_OK) {
            gst_buffer_unref(buffer);
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("%s: %s", CameraText(st).c_str(), o.strError.c_str()),
                              ("result %u", o.dwResult));
            return GST_FLOW_ERROR;
        }
        if (!o.bFrame) {
            gst_buffer_unref(buffer);
            if (o.bGeometryChanged) {
                if (GstFlowReturn r = Renegotiate(self); r != GST_FLOW_OK)
                    return r;
            } else if (++st.dwEmptyReads == kMaxEmptyReads) {
                GST_ELEMENT_ERROR(self, RESOURCE, READ,
                                  ("%s: the camera answered %u reads of '%s' in a row without data",
                                   CameraText(st).c_str(), kMaxEmptyReads, st.camera.BufferId().c_str()),
                                  (nullptr));
                return GST_FLOW_ERROR;
            }
            continue;
        }
        st.dwEmptyReads = 0;
        FinishBuffer(self, buffer, o.qwSerial);
        *out = buffer;
        return GST_FLOW_OK;
    }
}

gboolean Unlock(GstBaseSrc* src)
{
    PellixSrcState& st = State(src);
    {
        std::lock_guard<std::mutex> lock(st.lock);
        st.bFlushing = true;
    }
    if (st.camera.Cancel()) {
        std::lock_guard<std::mutex> lock(st.lock);
        st.bReopen = true;
    }
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* src)
{
    PellixSrcState& st = State(src);
    std::lock_guard<std::mutex> lock(st.lock);
    st.bFlushing = false;
    return TRUE;
}

gboolean Query(GstBaseSrc* src, GstQuery* query)
{
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
        // Stamped on arrival: no latency of our own, and no bound on how long a buffer may wait.
        gst_query_set_latency(query, TRUE, 0, GST_CLOCK_TIME_NONE);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_pellix_src_parent_class)->query(src, query);
}

void Finalize(GObject* object)
{
    GstPellixSrc* self = GST_PELLIX_SRC(object);
    delete &State(self);
    self->state = nullptr;
    G_OBJECT_CLASS(gst_pellix_src_parent_class)->finalize(object);
}

} // namespace

static void gst_pellix_src_init(GstPellixSrc* self)
{
    auto* state = new PellixSrcState;
    gst_video_info_init(&state->video);
    std::atomic_ref<PellixSrcState*>(self->state).store(state, std::memory_order_release);
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

static void gst_pellix_src_class_init(GstPellixSrcClass* klass)
{
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push = GST_PUSH_SRC_CLASS(klass);
    GST_DEBUG_CATEGORY_INIT(pellix_src_debug, "pellixsrc", 0, "Kelvo camera source");

    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->finalize = Finalize;
    const auto flags =
        static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        object, PROP_CAMERA,
        g_param_spec_string("camera", "Camera", "Host name or IPv4 address of the camera (required)", nullptr, flags));
    g_object_class_install_property(
        object, PROP_BUFFER_ID,
        g_param_spec_string("buffer-id", "Buffer",
                            "Identifier of the image buffer to read (1 to 4 characters); "
                            "none: the first image buffer of the camera's list",
                            nullptr, flags));
    g_object_class_install_property(
        object, PROP_CLIENT_NAME,
        g_param_spec_string("client-name", "Client name", "The name this client shows to the camera", "pellixsrc",
                            flags));
    g_object_class_install_property(
        object, PROP_TIMEOUT,
        g_param_spec_uint("timeout", "Time-out",
                          "Wait of every request to the camera in milliseconds (4294967295: no limit)", 1, G_MAXUINT,
                          5000, flags));
    g_object_class_install_property(
        object, PROP_FORCE,
        g_param_spec_boolean("force", "Force",
                             "Read the camera's current frame at once instead of waiting for the next", FALSE, flags));
    g_object_class_install_property(
        object, PROP_ROI,
        g_param_spec_string("roi", "Window",
                            "Window X,Y,W,H set on the camera (the caps take the window the camera chooses); "
                            "none: the camera's window as it is",
                            nullptr, flags));
    g_object_class_install_property(
        object, PROP_AGENT_CHANNEL,
        g_param_spec_boolean("agent-channel", "Agent channel",
                             "Supervise the camera through its agent channel and watchdog; without them a read that "
                             "times out ends the stream",
                             TRUE, flags));
    g_object_class_install_property(
        object, PROP_WATCHDOG_STATUS,
        g_param_spec_uint("watchdog-status", "Watchdog status",
                          "0 while the camera's watchdog receives signals, 3010 after a miss, 3020 without a watchdog",
                          0, G_MAXUINT, PX_NO_WATCHDOG,
                          static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_add_static_pad_template(element, &g_srcTemplate);
    gst_element_class_set_static_metadata(element, "Kelvo camera source", "Source/Video/Network",
                                          "Live images of one image buffer of a Kelvo smart camera, through libpellix "
                                          "(system-colour images come as GRAY8: their indices as grey levels)",
                                          "Pellix for Linux");
    base->start = Start;
    base->stop = Stop;
    base->get_caps = GetCaps;
    base->set_caps = SetCaps;
    base->decide_allocation = DecideAllocation;
    base->unlock = Unlock;
    base->unlock_stop = UnlockStop;
    base->query = Query;
    push->create = Create;
}
