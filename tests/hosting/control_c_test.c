/* The viewer control from C, against the installed header and library only: a host of a few
 * lines (the main thread is the window's thread; the control's workers queue their messages and
 * wait for sent ones), a kelvo-sim program on free ports, and the interface's members invoked by
 * DISPID from a table while an image streams, with their result and result type checked.
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

static struct timespec Deadline(uint32_t ms)
{
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    t.tv_sec += ms / 1000u;
    t.tv_nsec += (long)(ms % 1000u) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec++;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

static uint32_t SetTimer(void* data, uint32_t id, uint32_t periodMs)
{
    (void)data;
    (void)periodMs;
    return host.timerId = id;
}

static void KillTimer(void* data, uint32_t id)
{
    (void)data;
    if (host.timerId == id)
        host.timerId = 0;
}

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
    struct timespec deadline = Deadline(timeoutMs);
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
    while (send && host.doneSerial < serial && host.window) {
        if (pthread_cond_timedwait(&hostChanged, &hostLock, &deadline) == ETIMEDOUT)
            break;
    }
    if (send)
        delivered = host.doneSerial >= serial;
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

/* Hands the queued messages to the control until two images came, waiting for the workers'
 * messages; 0 when timeoutMs passes first. */
static int PumpTwoImages(PXControl* control, uint32_t timeoutMs)
{
    struct timespec deadline = Deadline(timeoutMs);
    pthread_mutex_lock(&hostLock);
    while (host.events[PXEVENT_OnImageReceived] < 2) {
        struct Queued q;
        if (host.count == 0) {
            if (pthread_cond_timedwait(&hostChanged, &hostLock, &deadline) == ETIMEDOUT)
                break;
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
    }
    pthread_mutex_unlock(&hostLock);
    return host.events[PXEVENT_OnImageReceived] >= 2;
}

/* ---- the simulator ------------------------------------------------------------------------- */

static pid_t simPid;
static FILE* simOutput; /* kept open: the simulator logs its connections into it */
static unsigned imagePort;

/* Starts kelvo-sim and writes the configuration file naming its ports into the current folder. */
static int StartSimulator(const char* program)
{
    int out[2];
    char line[512];
    unsigned publishPort = 0, watchdogPort = 0, messagePort = 0;
    FILE* config;
    if (pipe(out) != 0)
        return 0;
    simPid = fork();
    if (simPid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(program, program, "--ephemeral", "--fps", "50", "--buffer", "IMG0:image:size=64x48", (char*)NULL);
        _exit(127);
    }
    close(out[1]);
    simOutput = fdopen(out[0], "r");
    while (simOutput != NULL && fgets(line, sizeof line, simOutput) != NULL) {
        const char* image = "buffer IMG0 type 1 on port ";
        char* p;
        if ((p = strstr(line, image)) != NULL)
            imagePort = (unsigned)strtoul(p + strlen(image), NULL, 10);
        if ((p = strstr(line, "on publish port ")) != NULL &&
            sscanf(p, "on publish port %u, watchdog port %u, message port %u", &publishPort, &watchdogPort,
                   &messagePort) == 3)
            break;
    }
    if (publishPort == 0 || imagePort == 0 || (config = fopen("vistel.conf", "w")) == NULL)
        return 0;
    fprintf(config, "PublishPort=%u\nWatchDogPort=%u\nAsyncMsgPort=%u\nUseDDraw=0\n", publishPort, watchdogPort,
            messagePort);
    fclose(config);
    return setenv("VISTEL_CONFIG", "vistel.conf", 1) == 0;
}

/* ---- members ----------------------------------------------------------------------------- */

#define I4(x) {.vt = PX_VT_I4, .v = {.lVal = (x)}}
#define TEXT(x) {.vt = PX_VT_BSTR, .v = {.str = (x)}}
#define NONE {.vt = PX_VT_EMPTY}

static PXVariant arrayItems[2] = {I4(1), I4(2)};

/* The methods by DISPID while streaming a 64 x 48 image: result, its type and, where want is not
 * -1, its value. */
static const struct Method {
    int32_t dispid;
    uint32_t argc;
    PXVariant args[12];
    int32_t hr;
    uint16_t vt;
    int64_t want;
} methods[] = {
    {PXDISPID_GetFullSizeX, 0, {NONE}, PX_S_OK, PX_VT_I4, 64},
    {PXDISPID_GetFullSizeY, 0, {NONE}, PX_S_OK, PX_VT_I4, 48},
    {PXDISPID_GetBufferType, 0, {NONE}, PX_S_OK, PX_VT_I4, 1},
    {PXDISPID_GetConnected, 0, {NONE}, PX_S_OK, PX_VT_I4, 1},
    {PXDISPID_SendInput, 1, {I4(7)}, PX_S_OK, PX_VT_I4, 0},
    {PXDISPID_GetBufferList, 0, {NONE}, PX_S_FALSE, PX_VT_BSTR, -1},
    {PXDISPID_RegisterDataCallback, 1, {I4(0)}, PX_E_NOTIMPL, PX_VT_EMPTY, -1},
    {PXDISPID_GetFullSizeBand, 0, {NONE}, PX_S_OK, PX_VT_I4, -1},
    {PXDISPID_GetDisplayRate, 0, {NONE}, PX_S_OK, PX_VT_R4, -1},
    {PXDISPID_GetNewBufferSizeX, 0, {NONE}, PX_S_OK, PX_VT_I4, 64},
    {PXDISPID_GetNewBufferSizeY, 0, {NONE}, PX_S_OK, PX_VT_I4, 48},
    {PXDISPID_GetNewBufferOffsetX, 0, {NONE}, PX_S_OK, PX_VT_I4, 0},
    {PXDISPID_GetNewBufferOffsetY, 0, {NONE}, PX_S_OK, PX_VT_I4, 0},
    {PXDISPID_GetNewSubsection, 0, {NONE}, PX_S_OK, PX_VT_I4, -1},
    {PXDISPID_RegisterListUpdateCallback, 1, {I4(0)}, PX_E_NOTIMPL, PX_VT_EMPTY, -1},
    {PXDISPID_SendInputString, 1, {TEXT("abc")}, PX_S_OK, PX_VT_I4, 0},
    {PXDISPID_GetErrorMessage, 0, {NONE}, PX_S_OK, PX_VT_BSTR, -1},
    {PXDISPID_GetBufferAttribute, 0, {NONE}, PX_S_OK, PX_VT_I4, -1},
    {PXDISPID_GetBufferSize, 0, {NONE}, PX_S_OK, PX_VT_I4, -1},
    {PXDISPID_GetBufferDataPtr, 0, {NONE}, PX_S_OK, PX_VT_UI8, -1},
    {PXDISPID_AddOverlayRect, 9, {I4(-1), I4(1), I4(1), I4(10), I4(10), I4(2), I4(255), I4(0xFF00), I4(0)}, PX_S_OK,
     PX_VT_I4, 1},
    {PXDISPID_AddOverlayEllipse, 9, {I4(-1), I4(1), I4(1), I4(10), I4(10), I4(2), I4(255), I4(0xFF00), I4(0)},
     PX_S_OK, PX_VT_I4, 2},
    {PXDISPID_AddOverlayLine, 8, {I4(-1), I4(1), I4(1), I4(10), I4(10), I4(2), I4(255), I4(0)}, PX_S_OK, PX_VT_I4, 3},
    {PXDISPID_AddOverlayPixel, 5, {I4(-1), I4(3), I4(3), I4(255), I4(0)}, PX_S_OK, PX_VT_I4, 4},
    {PXDISPID_AddOverlayText, 12,
     {I4(-1), I4(1), I4(1), I4(60), I4(20), I4(255), I4(-1), I4(12), I4(56), TEXT("Arial"), TEXT("C"), I4(0)},
     PX_S_OK, PX_VT_I4, 5},
    {PXDISPID_RemoveOverlayObject, 1, {I4(1)}, PX_S_OK, PX_VT_EMPTY, -1},
    {PXDISPID_DrawOverlay, 0, {NONE}, PX_S_OK, PX_VT_EMPTY, -1},
    {PXDISPID_SetOverlayTransparentColor, 1, {I4(0xFF00FF)}, PX_S_OK, PX_VT_EMPTY, -1},
    {PXDISPID_ClearOverlay, 0, {NONE}, PX_S_OK, PX_VT_EMPTY, -1},
    {PXDISPID_GetVersion, 0, {NONE}, PX_S_OK, PX_VT_BSTR, -1},
    {PXDISPID_SendInputArray, 1, {{.vt = PX_VT_ARRAY | PX_VT_VARIANT, .v = {.array = {arrayItems, 2}}}}, PX_S_OK,
     PX_VT_I4, 0},
    {PXDISPID_LockDataPtr, 0, {NONE}, PX_S_OK, PX_VT_EMPTY, -1},
    {PXDISPID_GetBufferDIBHeaderPtr, 0, {NONE}, PX_S_OK, PX_VT_UI8, -1},
    {PXDISPID_UnlockDataPtr, 0, {NONE}, PX_S_OK, PX_VT_EMPTY, -1},
    {PXDISPID_GetNumberOfClient, 0, {NONE}, PX_S_OK, PX_VT_I4, -1},
    {PXDISPID_SendInputWString, 1, {TEXT("abc")}, PX_S_OK, PX_VT_I4, 0},
    {PXDISPID_GetClientID, 0, {NONE}, PX_S_OK, PX_VT_I4, -1},
    {PXDISPID_DisplayVariables, 0, {NONE}, PX_S_OK, PX_VT_EMPTY, -1},
    {PXDISPID_SaveImage, 2, {I4(1), TEXT("image.bmp")}, PX_S_OK, PX_VT_I4, 1},
    {PXDISPID_GetOverlayTransparentColor, 0, {NONE}, 0 /* the colour */, PX_VT_EMPTY, -1},
    {PXDISPID_ZoomOnPoint, 4, {I4(16), I4(12), {.vt = PX_VT_R4, .v = {.fltVal = 2.0f}}, I4(0)}, PX_S_OK, PX_VT_I4,
     -1},
    {PXDISPID_SetImageParams, 5, {I4(0), I4(0), I4(32), I4(24), I4(1)}, PX_S_OK, PX_VT_I4, -1},
    {PXDISPID_Stop, 0, {NONE}, PX_S_OK, PX_VT_I4, 0},
    {PXDISPID_GetConnected, 0, {NONE}, PX_S_OK, PX_VT_I4, 0},
};

static void Methods(PXControl* c)
{
    size_t i;
    for (i = 0; i < sizeof methods / sizeof methods[0]; ++i) {
        const struct Method* m = &methods[i];
        PXVariant r;
        int32_t hr = PXControlInvoke(c, m->dispid, PX_INVOKE_METHOD, m->args, m->argc, &r);
        int64_t got = r.vt == PX_VT_I4 ? r.v.lVal : -1;
        CHECK(hr == m->hr, "member %d: %d", (int)m->dispid, (int)hr);
        CHECK(r.vt == m->vt, "member %d: type %d", (int)m->dispid, (int)r.vt);
        CHECK(m->want == -1 || got == m->want, "member %d: %lld", (int)m->dispid, (long long)got);
        PXVariantClear(&r);
    }
    CHECK(host.boxes == 1, "DisplayVariables showed %d boxes", host.boxes);
}

int main(int argc, char** argv)
{
    PXControlHost table;
    PXControl* control;
    const PXVariant aim[3] = {TEXT("127.0.0.1"), I4(0), TEXT("IMG0")};
    const int32_t aimAt[3] = {PXDISPID_ServerAddress, PXDISPID_Port, PXDISPID_BufferId};
    int i;
    if (argc != 3 || chdir(argv[2]) != 0) {
        fprintf(stderr, "usage: %s <kelvo-sim> <scratch directory>\n", argv[0]);
        return 2;
    }
    if (!StartSimulator(argv[1])) {
        fprintf(stderr, "kelvo-sim did not start\n");
        return 2;
    }

    memset(&table, 0, sizeof table);
    table.size = sizeof table;
    table.setTimer = SetTimer;
    table.killTimer = KillTimer;
    table.hasWindow = HasWindow;
    table.deliverMessage = DeliverMessage;
    table.messageBox = MessageBox;
    table.fireEvent = FireEvent;
    /* no window surface, invalidation, menu, dialogs, clipboard or screen origin: the absent
     * services (the control paints only when asked to, below) */
    control = PXControlCreate(&table);
    CHECK(control != NULL, "made");
    CHECK(PXControlCreate(NULL) == NULL, "no host");

    for (i = 0; i < 3; ++i) {
        PXVariant value = aim[i];
        if (aimAt[i] == PXDISPID_Port)
            value.v.lVal = (int32_t)imagePort;
        CHECK(PXControlInvoke(control, aimAt[i], PX_INVOKE_PROPERTYPUT, &value, 1, NULL) == PX_S_OK, "aim %d", i);
    }
    pthread_mutex_lock(&hostLock);
    host.window = 1;
    pthread_mutex_unlock(&hostLock);
    PXControlWindowMessage(control, PX_WM_CREATE, 0, 0);
    CHECK(PumpTwoImages(control, 30000), "two images");
    CHECK(host.events[PXEVENT_OnDataReceive] >= host.events[PXEVENT_OnImageReceived], "data before image");
    CHECK(host.timerId == PX_FPS_TIMER_ID, "frame-rate timer %u", (unsigned)host.timerId);
    CHECK(PXControlWindowMessage(control, PX_WM_TIMER, PX_FPS_TIMER_ID, 0) == 1, "timer consumed");
    PXControlPaint(control, &(PXSurface){(uint8_t*)host.pixels, WIDTH, HEIGHT, WIDTH * 4});

    Methods(control); /* ends with Stop */
    CHECK(host.timerId == 0, "timer killed");
    CHECK(access("image.bmp", F_OK) == 0, "image saved");

    PXControlWindowMessage(control, PX_WM_DESTROY, 0, 0);
    pthread_mutex_lock(&hostLock);
    host.window = 0;
    pthread_cond_broadcast(&hostChanged);
    pthread_mutex_unlock(&hostLock);
    PXControlDestroy(control);
    PXControlDestroy(NULL);

    kill(simPid, SIGTERM);
    waitpid(simPid, NULL, 0);
    if (simOutput != NULL)
        fclose(simOutput);
    unlink("vistel.conf");
    unlink("image.bmp");
    printf("%s\n", failures == 0 ? "all members reached" : "failures");
    return failures == 0 ? 0 : 1;
}
