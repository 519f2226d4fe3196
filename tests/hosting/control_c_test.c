/* The viewer control from C, against the installed header and library only: a host of a few
 * lines (the main thread is the window's thread; the control's workers queue their messages and
 * wait for sent ones), a kelvo-sim program on free ports, and every member of the interface
 * invoked by DISPID while an image streams, with its result and result type checked.
 *
 * Usage: control_c_test <kelvo-sim program> <scratch directory> */
#define _POSIX_C_SOURCE 200809L
#include <pellix/pellix_control.h>

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int failures;

#define CHECK(condition, ...)                                    \
    do {                                                         \
        if (!(condition)) {                                      \
            failures++;                                          \
            printf("FAILED line %d: %s: ", __LINE__, #condition); \
            printf(__VA_ARGS__);                                 \
            printf("\n");                                        \
        }                                                        \
    } while (0)

/* ---- the host ---------------------------------------------------------------------------- */

#define WIDTH 64
#define HEIGHT 48
#define QUEUE 256

struct Queued {
    uint32_t msg;
    int send;
    unsigned long serial;
};

static pthread_mutex_t hostLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t hostChanged = PTHREAD_COND_INITIALIZER;
static struct Host {
    struct Queued queue[QUEUE];
    unsigned head, count;
    unsigned long nextSerial, doneSerial; /* sends are handled in order: done up to doneSerial */
    int window;
    uint32_t pixels[WIDTH * HEIGHT];
    int events[12];
    int boxes;
    uint32_t timerId;
} host;

static uint64_t NowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000u + (uint64_t)t.tv_nsec / 1000000u;
}

static int GetWindowSurface(void* data, PXSurface* s)
{
    (void)data;
    if (!host.window)
        return 0;
    s->pixels = (uint8_t*)host.pixels;
    s->width = WIDTH;
    s->height = HEIGHT;
    s->stride = WIDTH * 4;
    return 1;
}

static void GetClientRect(void* data, PXRect* r)
{
    (void)data;
    r->left = r->top = 0;
    r->right = host.window ? WIDTH : 0;
    r->bottom = host.window ? HEIGHT : 0;
}

static void ReleaseWindowSurface(void* data, const PXSurface* s)
{
    (void)data;
    (void)s;
}

static uint32_t SetTimer(void* data, uint32_t id, uint32_t periodMs)
{
    (void)data;
    (void)periodMs;
    host.timerId = id;
    return id;
}

static void KillTimer(void* data, uint32_t id)
{
    (void)data;
    if (host.timerId == id)
        host.timerId = 0;
}

static void Invalidate(void* data) { (void)data; }

static int HasWindow(void* data)
{
    int window;
    (void)data;
    pthread_mutex_lock(&hostLock);
    window = host.window;
    pthread_mutex_unlock(&hostLock);
    return window;
}

static int DeliverMessage(void* data, uint32_t msg, uintptr_t wParam, intptr_t lParam, int send, uint32_t timeoutMs)
{
    unsigned long serial;
    int delivered = 1;
    struct timespec deadline;
    (void)data;
    (void)wParam;
    (void)lParam;
    pthread_mutex_lock(&hostLock);
    if (!host.window || host.count == QUEUE) {
        pthread_mutex_unlock(&hostLock);
        return 0;
    }
    serial = ++host.nextSerial;
    host.queue[(host.head + host.count++) % QUEUE] = (struct Queued){msg, send, serial};
    pthread_cond_broadcast(&hostChanged);
    if (send) {
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += timeoutMs / 1000u;
        deadline.tv_nsec += (long)(timeoutMs % 1000u) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec++;
            deadline.tv_nsec -= 1000000000L;
        }
        while (host.doneSerial < serial && host.window) {
            if (pthread_cond_timedwait(&hostChanged, &hostLock, &deadline) == ETIMEDOUT)
                break;
        }
        delivered = host.doneSerial >= serial;
    }
    pthread_mutex_unlock(&hostLock);
    return delivered;
}

static int32_t MessageBox(void* data, const char* text, const char* caption, uint32_t flags)
{
    (void)data;
    (void)text;
    (void)flags;
    CHECK(strcmp(caption, "Vistel ActiveX") == 0, "caption %s", caption);
    host.boxes++;
    return PX_IDOK;
}

static void FireEvent(void* data, int32_t dispid, const PXVariant* args, uint32_t argc)
{
    (void)data;
    if (dispid >= 1 && dispid <= 11)
        host.events[dispid]++;
    if (dispid == PXEVENT_OnImageReceived) {
        CHECK(argc == 2 && args[0].vt == PX_VT_UI8 && args[1].vt == PX_VT_UI8 && args[0].v.ullVal != 0,
              "image event arguments");
    }
    if (dispid == PXEVENT_OnDataReceive)
        CHECK(argc == 1 && args[0].vt == PX_VT_BSTR && strstr(args[0].v.str, ":IMG0:1") != NULL, "data event text");
}

/* Hands the queued messages to the control until done() holds or timeoutMs passes. */
static int Pump(PXControl* control, int (*done)(void), uint32_t timeoutMs)
{
    uint64_t end = NowMs() + timeoutMs;
    while (!done()) {
        struct Queued q;
        struct timespec pause = {0, 2000000L};
        if (NowMs() > end)
            return 0;
        pthread_mutex_lock(&hostLock);
        if (host.count == 0) {
            pthread_mutex_unlock(&hostLock);
            nanosleep(&pause, NULL); /* the window thread idles between messages */
            continue;
        }
        q = host.queue[host.head];
        host.head = (host.head + 1) % QUEUE;
        host.count--;
        pthread_mutex_unlock(&hostLock);
        PXControlWindowMessage(control, q.msg, 0, 0);
        pthread_mutex_lock(&hostLock);
        if (q.send)
            host.doneSerial = q.serial;
        pthread_cond_broadcast(&hostChanged);
        pthread_mutex_unlock(&hostLock);
    }
    return 1;
}

static int TwoImages(void) { return host.events[PXEVENT_OnImageReceived] >= 2; }

/* ---- the simulator ------------------------------------------------------------------------- */

static pid_t simPid;
static FILE* simOutput; /* kept open: the simulator logs its connections into it */
static unsigned publishPort, watchdogPort, messagePort, imagePort, inputPort;

static int StartSimulator(const char* program, const char* configPath)
{
    int out[2];
    char line[512];
    FILE* config;
    if (pipe(out) != 0)
        return 0;
    simPid = fork();
    if (simPid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(program, program, "--ephemeral", "--fps", "50", "--buffer", "IMG0:image:size=64x48",
              "--buffer", "INP0:input", (char*)NULL);
        _exit(127);
    }
    close(out[1]);
    simOutput = fdopen(out[0], "r");
    while (simOutput != NULL && fgets(line, sizeof line, simOutput) != NULL) {
        char* p;
        if ((p = strstr(line, "buffer IMG0 type 1 on port ")) != NULL)
            imagePort = (unsigned)strtoul(p + strlen("buffer IMG0 type 1 on port "), NULL, 10);
        if ((p = strstr(line, "buffer INP0 type 101 on port ")) != NULL)
            inputPort = (unsigned)strtoul(p + strlen("buffer INP0 type 101 on port "), NULL, 10);
        if ((p = strstr(line, "on publish port ")) != NULL &&
            sscanf(p, "on publish port %u, watchdog port %u, message port %u", &publishPort, &watchdogPort,
                   &messagePort) == 3)
            break;
    }
    if (publishPort == 0 || imagePort == 0 || inputPort == 0)
        return 0;
    config = fopen(configPath, "w");
    if (config == NULL)
        return 0;
    fprintf(config, "PublishPort=%u\nWatchDogPort=%u\nAsyncMsgPort=%u\nUseDDraw=0\n", publishPort, watchdogPort,
            messagePort);
    fclose(config);
    return setenv("VISTEL_CONFIG", configPath, 1) == 0;
}

/* ---- members ----------------------------------------------------------------------------- */

static PXVariant I4(int32_t v)
{
    PXVariant x;
    memset(&x, 0, sizeof x);
    x.vt = PX_VT_I4;
    x.v.lVal = v;
    return x;
}

static PXVariant R4(float v)
{
    PXVariant x;
    memset(&x, 0, sizeof x);
    x.vt = PX_VT_R4;
    x.v.fltVal = v;
    return x;
}

static PXVariant Text(const char* s)
{
    PXVariant x;
    memset(&x, 0, sizeof x);
    x.vt = PX_VT_BSTR;
    x.v.str = s;
    return x;
}

static int32_t Invoke(PXControl* c, int32_t dispid, uint32_t kind, const PXVariant* args, uint32_t argc,
                      PXVariant* result)
{
    return PXControlInvoke(c, dispid, kind, args, argc, result);
}

static int64_t Number(PXControl* c, int32_t dispid, uint32_t kind)
{
    PXVariant r;
    int64_t v = 0;
    Invoke(c, dispid, kind, NULL, 0, &r);
    if (r.vt == PX_VT_I4)
        v = r.v.lVal;
    else if (r.vt == PX_VT_I2)
        v = r.v.iVal;
    PXVariantClear(&r);
    return v;
}

/* Every property read, then written back with the value read (a no-op the control must accept). */
static void Properties(PXControl* c)
{
    static const int32_t properties[] = {
        PXDISPID_ServerAddress, PXDISPID_Agent, PXDISPID_Port, PXDISPID_ClientName, PXDISPID_Visible,
        PXDISPID_ShowFPS, PXDISPID_BufferId, PXDISPID_BufferSizeX, PXDISPID_BufferSizeY, PXDISPID_BufferOffsetX,
        PXDISPID_BufferOffsetY, PXDISPID_Subsection, PXDISPID_MaxTimeout, PXDISPID_width, PXDISPID_height,
        PXDISPID_LOGScale, PXDISPID_ManualStart, PXDISPID_FPSRefreshDelay, PXDISPID_BufferListUpdatePeriod,
        PXDISPID_FPSCorner, PXDISPID_SpecialMouseInteraction, PXDISPID_PopupMenuInteraction,
        PXDISPID_SerialCounter, PXDISPID_SerialCounterHigh, PXDISPID_DisplayOptions, PXDISPID_LinkedAgentID};
    size_t i;
    for (i = 0; i < sizeof properties / sizeof properties[0]; ++i) {
        PXVariant v;
        int32_t hr = Invoke(c, properties[i], PX_INVOKE_PROPERTYGET, NULL, 0, &v);
        CHECK(hr == PX_S_OK, "get %d: %d", (int)properties[i], (int)hr);
        CHECK(v.vt == PX_VT_I2 || v.vt == PX_VT_I4 || v.vt == PX_VT_BSTR, "get %d type %d", (int)properties[i],
              (int)v.vt);
        if (properties[i] != PXDISPID_ServerAddress) { /* putting the address back would change nothing anyway */
            hr = Invoke(c, properties[i], PX_INVOKE_PROPERTYPUT, &v, 1, NULL);
            CHECK(hr == PX_S_OK, "put %d: %d", (int)properties[i], (int)hr);
        }
        PXVariantClear(&v);
        CHECK(v.vt == PX_VT_EMPTY, "cleared");
    }
}

struct MethodCase {
    int32_t dispid;
    uint32_t argc;
    PXVariant args[12];
    int32_t hr;
    uint16_t vt; /* of the result; PX_VT_EMPTY for none */
};

static void Methods(PXControl* c, const char* savePath)
{
    PXVariant arrayItems[2];
    PXVariant array;
    struct MethodCase cases[40];
    size_t n = 0, i;
    memset(cases, 0, sizeof cases);
    arrayItems[0] = I4(1);
    arrayItems[1] = I4(2);
    memset(&array, 0, sizeof array);
    array.vt = PX_VT_ARRAY | PX_VT_VARIANT;
    array.v.array.items = arrayItems;
    array.v.array.count = 2;

#define METHOD(d, hrWant, vtWant, ...)                                                  \
    do {                                                                              \
        PXVariant a[] = {I4(0), __VA_ARGS__};                                         \
        cases[n].dispid = (d);                                                        \
        cases[n].argc = (uint32_t)(sizeof a / sizeof a[0]) - 1;                       \
        memcpy(cases[n].args, a + 1, sizeof a - sizeof a[0]);                         \
        cases[n].hr = (hrWant);                                                       \
        cases[n].vt = (vtWant);                                                       \
        n++;                                                                          \
    } while (0)
#define METHOD0(d, hrWant, vtWant)                                                    \
    do {                                                                              \
        cases[n].dispid = (d);                                                        \
        cases[n].hr = (hrWant);                                                       \
        cases[n].vt = (vtWant);                                                       \
        n++;                                                                          \
    } while (0)

    METHOD0(PXDISPID_GetFullSizeX, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetFullSizeY, PX_S_OK, PX_VT_I4);
    METHOD(PXDISPID_SendInput, PX_S_OK, PX_VT_I4, I4(7));
    METHOD0(PXDISPID_GetBufferList, PX_S_FALSE, PX_VT_BSTR);
    METHOD(PXDISPID_RegisterDataCallback, PX_E_NOTIMPL, PX_VT_EMPTY, I4(0));
    METHOD0(PXDISPID_GetFullSizeBand, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetDisplayRate, PX_S_OK, PX_VT_R4);
    METHOD0(PXDISPID_GetNewBufferSizeX, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetNewBufferSizeY, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetNewBufferOffsetX, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetNewBufferOffsetY, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetNewSubsection, PX_S_OK, PX_VT_I4);
    METHOD(PXDISPID_RegisterListUpdateCallback, PX_E_NOTIMPL, PX_VT_EMPTY, I4(0));
    METHOD(PXDISPID_SendInputString, PX_S_OK, PX_VT_I4, Text("abc"));
    METHOD0(PXDISPID_GetErrorMessage, PX_S_OK, PX_VT_BSTR);
    METHOD0(PXDISPID_GetBufferType, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetBufferAttribute, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetBufferSize, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_GetBufferDataPtr, PX_S_OK, PX_VT_UI8);
    METHOD0(PXDISPID_GetConnected, PX_S_OK, PX_VT_I4);
    METHOD(PXDISPID_AddOverlayRect, PX_S_OK, PX_VT_I4, I4(-1), I4(1), I4(1), I4(10), I4(10), I4(2), I4(255),
           I4(0xFF00), I4(0));
    METHOD(PXDISPID_AddOverlayEllipse, PX_S_OK, PX_VT_I4, I4(-1), I4(1), I4(1), I4(10), I4(10), I4(2), I4(255),
           I4(0xFF00), I4(0));
    METHOD(PXDISPID_AddOverlayLine, PX_S_OK, PX_VT_I4, I4(-1), I4(1), I4(1), I4(10), I4(10), I4(2), I4(255), I4(0));
    METHOD(PXDISPID_AddOverlayPixel, PX_S_OK, PX_VT_I4, I4(-1), I4(3), I4(3), I4(255), I4(0));
    METHOD(PXDISPID_AddOverlayText, PX_S_OK, PX_VT_I4, I4(-1), I4(1), I4(1), I4(60), I4(20), I4(255), I4(-1),
           I4(12), I4(56), Text("Arial"), Text("C"), I4(0));
    METHOD(PXDISPID_RemoveOverlayObject, PX_S_OK, PX_VT_EMPTY, I4(1));
    METHOD0(PXDISPID_DrawOverlay, PX_S_OK, PX_VT_EMPTY);
    METHOD(PXDISPID_SetOverlayTransparentColor, PX_S_OK, PX_VT_EMPTY, I4(0xFF00FF));
    METHOD0(PXDISPID_ClearOverlay, PX_S_OK, PX_VT_EMPTY);
    METHOD0(PXDISPID_GetVersion, PX_S_OK, PX_VT_BSTR);
    METHOD(PXDISPID_SendInputArray, PX_S_OK, PX_VT_I4, array);
    METHOD0(PXDISPID_LockDataPtr, PX_S_OK, PX_VT_EMPTY);
    METHOD0(PXDISPID_GetBufferDIBHeaderPtr, PX_S_OK, PX_VT_UI8);
    METHOD0(PXDISPID_UnlockDataPtr, PX_S_OK, PX_VT_EMPTY);
    METHOD0(PXDISPID_GetNumberOfClient, PX_S_OK, PX_VT_I4);
    METHOD(PXDISPID_SendInputWString, PX_S_OK, PX_VT_I4, Text("abc"));
    METHOD0(PXDISPID_GetClientID, PX_S_OK, PX_VT_I4);
    METHOD0(PXDISPID_DisplayVariables, PX_S_OK, PX_VT_EMPTY);
    METHOD(PXDISPID_SaveImage, PX_S_OK, PX_VT_I4, I4(1), Text(savePath));
    METHOD(PXDISPID_SetImageParams, PX_S_OK, PX_VT_I4, I4(0), I4(0), I4(32), I4(24), I4(1));
#undef METHOD
#undef METHOD0

    for (i = 0; i < n; ++i) {
        PXVariant r;
        int32_t hr = Invoke(c, cases[i].dispid, PX_INVOKE_METHOD, cases[i].args, cases[i].argc, &r);
        CHECK(hr == cases[i].hr, "member %d: %d", (int)cases[i].dispid, (int)hr);
        CHECK(r.vt == cases[i].vt, "member %d: type %d", (int)cases[i].dispid, (int)r.vt);
        PXVariantClear(&r);
    }
    /* The two that are not in the table: a colour as the answer, and a zoom that changes the window. */
    {
        PXVariant zoom[4];
        PXVariant r;
        zoom[0] = I4(16);
        zoom[1] = I4(12);
        zoom[2] = R4(2.0f);
        zoom[3] = I4(0);
        CHECK(Invoke(c, PXDISPID_GetOverlayTransparentColor, PX_INVOKE_METHOD, NULL, 0, &r) == 0, "colour");
        CHECK(Invoke(c, PXDISPID_ZoomOnPoint, PX_INVOKE_METHOD, zoom, 4, &r) == PX_S_OK, "zoom");
        PXVariantClear(&r);
    }
    CHECK(host.boxes == 1, "DisplayVariables showed %d boxes", host.boxes);
}

/* ---- persistence through C callbacks ---------------------------------------------------------- */

static char savedNames[32][32];
static int savedCount;

static void Put(void* ctx, const char* name, const PXVariant* v)
{
    (void)v;
    (void)ctx;
    if (savedCount < 32)
        snprintf(savedNames[savedCount++], sizeof savedNames[0], "%s", name);
}

static int Get(void* ctx, const char* name, PXVariant* v)
{
    (void)ctx;
    if (strcmp(name, "ClientName") != 0)
        return 0;
    *v = Text("from C");
    return 1;
}

int main(int argc, char** argv)
{
    PXControlHost table;
    PXControl* control;
    char configPath[600], savePath[600];
    PXVariant args[1], r;
    if (argc != 3) {
        fprintf(stderr, "usage: %s <kelvo-sim> <scratch directory>\n", argv[0]);
        return 2;
    }
    snprintf(configPath, sizeof configPath, "%s/vistel.conf", argv[2]);
    snprintf(savePath, sizeof savePath, "%s/image.bmp", argv[2]);
    if (!StartSimulator(argv[1], configPath)) {
        fprintf(stderr, "kelvo-sim did not start\n");
        return 2;
    }

    memset(&table, 0, sizeof table);
    table.size = sizeof table;
    table.getWindowSurface = GetWindowSurface;
    table.getClientRect = GetClientRect;
    table.releaseWindowSurface = ReleaseWindowSurface;
    table.setTimer = SetTimer;
    table.killTimer = KillTimer;
    table.invalidate = Invalidate;
    table.hasWindow = HasWindow;
    table.deliverMessage = DeliverMessage;
    table.messageBox = MessageBox;
    table.fireEvent = FireEvent;
    /* menu, dialogs, clipboard and screen origin left out: the absent services */
    control = PXControlCreate(&table);
    CHECK(control != NULL, "made");
    CHECK(PXControlCreate(NULL) == NULL, "no host");

    CHECK(PXControlLoadProperties(control, Get, NULL) == PX_S_OK, "load");
    CHECK(PXControlSaveProperties(control, Put, NULL) == PX_S_OK, "save");
    CHECK(savedCount == 28 && strcmp(savedNames[0], "_cx") == 0 && strcmp(savedNames[27], "LinkedAgentID") == 0,
          "%d saved", savedCount);
    Invoke(control, PXDISPID_ClientName, PX_INVOKE_PROPERTYGET, NULL, 0, &r);
    CHECK(r.vt == PX_VT_BSTR && strcmp(r.v.str, "from C") == 0, "loaded name");
    PXVariantClear(&r);

    args[0] = Text("127.0.0.1");
    CHECK(Invoke(control, PXDISPID_ServerAddress, PX_INVOKE_PROPERTYPUT, args, 1, NULL) == PX_S_OK, "address");
    args[0] = I4((int32_t)imagePort);
    CHECK(Invoke(control, PXDISPID_Port, PX_INVOKE_PROPERTYPUT, args, 1, NULL) == PX_S_OK, "port");
    args[0] = Text("IMG0");
    CHECK(Invoke(control, PXDISPID_BufferId, PX_INVOKE_PROPERTYPUT, args, 1, NULL) == PX_S_OK, "id");

    pthread_mutex_lock(&hostLock);
    host.window = 1;
    pthread_mutex_unlock(&hostLock);
    PXControlWindowMessage(control, PX_WM_CREATE, 0, 0);
    CHECK(Pump(control, TwoImages, 30000), "two images");
    CHECK(host.events[PXEVENT_OnDataReceive] >= host.events[PXEVENT_OnImageReceived], "data before image");
    CHECK(host.timerId == PX_FPS_TIMER_ID, "frame-rate timer %u", (unsigned)host.timerId);
    CHECK(Number(control, PXDISPID_GetFullSizeX, PX_INVOKE_METHOD) == 64, "full size");
    CHECK(Number(control, PXDISPID_GetBufferType, PX_INVOKE_METHOD) == 1, "type");
    CHECK(Number(control, PXDISPID_BufferSizeX, PX_INVOKE_PROPERTYGET) == 64, "size");
    CHECK(PXControlWindowMessage(control, PX_WM_TIMER, PX_FPS_TIMER_ID, 0) == 1, "timer consumed");
    PXControlPaint(control, &(PXSurface){(uint8_t*)host.pixels, WIDTH, HEIGHT, WIDTH * 4});

    Properties(control);
    Methods(control, savePath);

    /* Stop and Start by DISPID, then the window's end. */
    CHECK(Number(control, PXDISPID_Stop, PX_INVOKE_METHOD) == 0, "stop");
    CHECK(Number(control, PXDISPID_GetConnected, PX_INVOKE_METHOD) == 0, "stopped");
    CHECK(host.timerId == 0, "timer killed");
    args[0] = Text("127.0.0.1");
    Invoke(control, PXDISPID_ServerAddress, PX_INVOKE_PROPERTYPUT, args, 1, NULL);
    args[0] = I4((int32_t)inputPort);
    Invoke(control, PXDISPID_Port, PX_INVOKE_PROPERTYPUT, args, 1, NULL);
    args[0] = Text("INP0");
    Invoke(control, PXDISPID_BufferId, PX_INVOKE_PROPERTYPUT, args, 1, NULL);
    CHECK(Number(control, PXDISPID_Start, PX_INVOKE_METHOD) == 0, "start on the input");
    args[0] = I4(0x01020304);
    Invoke(control, PXDISPID_SendInput, PX_INVOKE_METHOD, args, 1, &r);
    CHECK(r.vt == PX_VT_I4 && r.v.lVal == 0, "input sent");
    PXControlWindowMessage(control, PX_WM_DESTROY, 0, 0);
    pthread_mutex_lock(&hostLock);
    host.window = 0;
    pthread_cond_broadcast(&hostChanged);
    pthread_mutex_unlock(&hostLock);
    CHECK(Number(control, PXDISPID_GetConnected, PX_INVOKE_METHOD) == 0, "destroyed window stops");
    PXControlDestroy(control);
    PXControlDestroy(NULL);

    kill(simPid, SIGTERM);
    waitpid(simPid, NULL, 0);
    if (simOutput != NULL)
        fclose(simOutput);
    unlink(configPath);
    unlink(savePath);
    printf("%s\n", failures == 0 ? "all members reached" : "failures");
    return failures == 0 ? 0 : 1;
}
