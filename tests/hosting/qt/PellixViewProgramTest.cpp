// pellix-view as a person runs it: a real X server (Xvfb, one per run), the bundled
// simulator, a screenshot after a number of frames. The picture must be the simulator's pattern
// of one of its frames (the moving bar and the frame number included) with the frame-rate text
// over it; with an overlay script and a display back-end, the script's graphics over the frame.
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

#include "QtTestUtil.h"
#include "sim/SimPattern.h"

namespace pxtest {
namespace {

constexpr int kFullX = 640, kFullY = 480;   // the bundled simulator's image

// The frame-rate text's box in the upper left corner of a window.
bool InFrameRateBox(int x, int y) { return x >= 5 && x < 70 && y >= 5 && y < 25; }

// Pixels where something other than the frame may be shown.
using Mask = std::function<bool(int x, int y)>;

// Pixels of a frame, shown stretched to the screenshot's size, that differ from it outside (or
// inside) the mask.
struct Mismatch {
    size_t outside = 0, inside = 0;
};
Mismatch Compare(const Picture& shot, uint64_t serial, const Mask& masked)
{
    const Picture want = Stretch(CameraPicture(kFullX, kFullY, PX_FORMAT_MONO8, serial), shot.width, shot.height);
    Mismatch m;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            if (shot.At(x, y) != want.At(x, y))
                ++(masked(x, y) ? m.inside : m.outside);
        }
    }
    return m;
}

// The frame's number modulo 256, from the grey ramp (x + 2y + 3 frame, its top bit flipped in
// every other 32-pixel square): the value most sample points outside the mask agree on.
uint64_t SerialModulo256(const Picture& shot, const Mask& masked)
{
    size_t best = 0, bestVotes = 0;
    for (uint64_t s = 0; s < 256; ++s) {
        size_t votes = 0;
        for (int y = 40; y < shot.height; y += 13) {
            for (int x = 0; x < shot.width; x += 11) {
                if (masked(x, y))
                    continue;
                const int sx = static_cast<int>((2 * int64_t{x} + 1) * kFullX / (2 * int64_t{shot.width}));
                const int sy = static_cast<int>((2 * int64_t{y} + 1) * kFullY / (2 * int64_t{shot.height}));
                const uint32_t grey = pxsim::SimPatternGrey(sx, sy, s);
                votes += shot.At(x, y) == grey * 0x010101u ? 1 : 0;
            }
        }
        if (votes > bestVotes)
            best = s, bestVotes = votes;
    }
    return best;
}

// The frame the screenshot shows outside the mask (its number modulo 256 from the ramp, then the
// one of those numbers whose bar and label match) and how many pixels differ from it.
struct FrameFound {
    uint64_t serial = 0;
    Mismatch mismatch{SIZE_MAX, 0};
};
FrameFound FindFrame(const Picture& shot, const Mask& masked)
{
    FrameFound best;
    for (uint64_t s = SerialModulo256(shot, masked); s < 4096; s += 256) {
        const Mismatch m = Compare(shot, s, masked);
        if (m.outside < best.mismatch.outside)
            best = {s, m};
    }
    return best;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Xvfb on a display number it chooses itself (-displayfd), so that servers of tests running side
// by side never race for one; ended with the object.
class CXServer {
public:
    CXServer()
    {
        m_server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QByteArray number;
        while (!number.contains('\n') && m_server.waitForReadyRead(30000))
            number += m_server.readAllStandardOutput();
        if (number.contains('\n'))
            m_strDisplay = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    }
    ~CXServer()
    {
        m_server.terminate();
        m_server.waitForFinished(30000);
    }
    // ":N", or empty when the server did not start.
    const QString& Display() const { return m_strDisplay; }

private:
    QProcess m_server;
    QString m_strDisplay;
};

// pellix-view with these arguments and configuration lines under a fresh X server; its exit
// status (-1 when it did not start or end), with its output (standard error included) in *output.
int RunPellixView(const QStringList& arguments, const QString& config, const QTemporaryDir& dir, QString* output)
{
    CXServer server;
    if (server.Display().isEmpty()) {
        *output = QStringLiteral("Xvfb did not start");
        return -1;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));   // the X server's, not the off-screen one
    environment.insert(QStringLiteral("DISPLAY"), server.Display());
    environment.insert(QStringLiteral("LSAN_OPTIONS"), environment.value(QStringLiteral("LSAN_OPTIONS")) +
                                                           QStringLiteral(":suppressions=" PELLIX_VIEW_LSAN_SUPPRESSIONS));
    // The tests' own fonts (the system's fontconfig set-up leaks under LeakSanitizer), and
    // llvmpipe drawing on the calling thread, where the sanitizers see its accesses to our memory.
    environment.insert(QStringLiteral("FONTCONFIG_FILE"), QStringLiteral(PELLIX_TEST_FONTS_CONF));
    environment.insert(QStringLiteral("LP_NUM_THREADS"), QStringLiteral("0"));
    // The user's configuration, which the bundled simulator's ports are laid over.
    const QString configPath = dir.filePath(QStringLiteral("vistel.conf"));
    if (!WriteFile(configPath, config.toUtf8()))
        return -1;
    environment.insert(QStringLiteral("VISTEL_CONFIG"), configPath);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(PELLIX_VIEW_PROGRAM), arguments);
    if (!program.waitForStarted(30000) || !program.waitForFinished(240000))
        return -1;
    *output = QString::fromLocal8Bit(program.readAll());
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

TEST(PellixViewProgram, ScreenshotUnderXvfbShowsTheMovingPatternWithTheFrameRate)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shotPath = dir.filePath(QStringLiteral("shot.png"));
    QString output;
    ASSERT_EQ(RunPellixView({"--screenshot", shotPath, "--frames", "150"}, QString(), dir, &output), 0)
        << output.toStdString();

    QImage image;
    ASSERT_TRUE(image.load(shotPath, "PNG"));
    const Picture shot = PictureOf(image);
    ASSERT_GE(shot.width, 160);
    ASSERT_GE(shot.height, 120);

    const FrameFound frame = FindFrame(shot, InFrameRateBox);
    EXPECT_EQ(frame.mismatch.outside, 0u) << "frame " << frame.serial;
    EXPECT_GE(frame.serial, 100u);   // 150 frames were counted; the first may predate the window
    // The frame-rate text covers the label's corner: black text on white ground.
    EXPECT_GE(frame.mismatch.inside, 50u);
    EXPECT_GE(CountColour(shot, 0x000000, 5, 5, 70, 25), 10u);
    EXPECT_GE(CountColour(shot, 0xFFFFFF, 5, 5, 70, 25), 10u);
}

// An overlay script with every kind of graphic, in full-image pixels, which the window shows one
// to one: colours the simulator's grey pattern never has.
const char kOverlayScript[] = R"(# pellix-view's test overlay
AddOverlayRect    -1  40  40 240 160 1 #FFFF00 none    0
AddOverlayEllipse -1 320  80 600 360 3 #00FFFF #0000FF 0
AddOverlayLine    -1   0 400 639 400 1 #00FF00 0
AddOverlayPixel   -1  40 200 #FF0000 0
AddOverlayPixel   -1  48 200 #FF0000 0
AddOverlayPixel   -1  56 200 #FF0000 0
# exactly the transparent colour: the frame shows through
AddOverlayPixel   -1 600 440 #FF00FF 0
AddOverlayText    -1  40 280   0   0 #FF8000 none 20 0 "DejaVu Sans" "Overlay 123" 0
)";

bool InBox(int x, int y, int x0, int y0, int x1, int y1) { return x >= x0 && x < x1 && y >= y0 && y < y1; }

// Where the script's graphics may be, the frame-rate box besides.
bool UnderOverlay(int x, int y)
{
    return InFrameRateBox(x, y) || InBox(x, y, 40, 40, 240, 160) || InBox(x, y, 317, 77, 604, 364) ||
           InBox(x, y, 0, 398, 640, 403) || InBox(x, y, 40, 200, 57, 201) || InBox(x, y, 38, 278, 320, 322);
}

struct BackEnd {
    const char* name;
    const char* option;
    const char* config;
    bool bOverlay;
    bool bSoftwareGlOnly = false;   // GDI only where the renderer is Mesa's software one
};

void PrintTo(const BackEnd& b, std::ostream* os) { *os << b.name; }

class PellixViewBackEnd : public ::testing::TestWithParam<BackEnd> {};

TEST_P(PellixViewBackEnd, ScreenshotShowsTheOverlayScriptOverTheFrame)
{
    const BackEnd& b = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shotPath = dir.filePath(QStringLiteral("shot.png"));
    const QString scriptPath = dir.filePath(QStringLiteral("overlay.txt"));
    ASSERT_TRUE(WriteFile(scriptPath, kOverlayScript));
    QString output;
    ASSERT_EQ(RunPellixView({"--backend", b.option, "--overlay", scriptPath, "--screenshot", shotPath, "--frames",
                             "20"},
                            b.config, dir, &output),
              0)
        << output.toStdString();

    QImage image;
    ASSERT_TRUE(image.load(shotPath, "PNG"));
    const Picture shot = PictureOf(image);
    // The window shows the full image one to one, so the script's points are window points.
    ASSERT_EQ(shot.width, kFullX);
    ASSERT_EQ(shot.height, kFullY);
    const FrameFound frame = FindFrame(shot, UnderOverlay);
    EXPECT_EQ(frame.mismatch.outside, 0u) << "the frame " << frame.serial << " around the graphics";
    const bool warned = output.contains("the control draws without a display back-end, so the overlay is not shown");
    if (b.bSoftwareGlOnly && !warned)
        GTEST_SKIP() << "a hardware OpenGL renderer took the GL back-end";
    if (!b.bOverlay) {
        EXPECT_EQ(Compare(shot, frame.serial, InFrameRateBox).outside, 0u) << "the GDI path shows no overlay";
        EXPECT_TRUE(warned) << output.toStdString();
        return;
    }
    EXPECT_FALSE(warned) << output.toStdString();
    EXPECT_EQ(CountColour(shot, 0xFFFF00, 41, 41, 239, 159), 198u * 118u) << "the rectangle's yellow fill";
    EXPECT_EQ(CountColour(shot, 0x00FFFF, 420, 180, 500, 260), 80u * 80u) << "the ellipse's cyan fill";
    EXPECT_GT(CountColour(shot, 0x0000FF, 317, 77, 604, 364), 1500u) << "the ellipse's blue border, 3 wide";
    EXPECT_EQ(CountColour(shot, 0x00FF00, 0, 398, 640, 403), 639u) << "the line, to its end point";
    EXPECT_EQ(shot.At(40, 200), 0xFF0000u);
    EXPECT_EQ(shot.At(48, 200), 0xFF0000u);
    EXPECT_EQ(shot.At(56, 200), 0xFF0000u);
    EXPECT_EQ(CountColour(shot, 0xFF0000, 40, 199, 57, 202), 3u) << "the pixels, and nothing between them";
    EXPECT_GT(CountColour(shot, 0xFF8000, 40, 280, 320, 322), 150u) << "the text";
}

const BackEnd kBackEnds[] = {
    {"SoftwareCompositor", "soft", "", true},
    // Mesa's software renderer counts as no acceleration unless the user's configuration allows
    // it; the bundled simulator's configuration must keep that value.
    {"OpenGlOnMesa", "gl", "AllowSoftwareGL=1\n", true},
    {"Gdi", "gdi", "", false},
    // Without AllowSoftwareGL the GL back-end refuses Mesa's software renderer: GDI, and a warning.
    {"OpenGlRefusedOnMesa", "gl", "", false, true},
};
INSTANTIATE_TEST_SUITE_P(EachBackEnd, PellixViewBackEnd, ::testing::ValuesIn(kBackEnds),
                         [](const ::testing::TestParamInfo<BackEnd>& info) { return info.param.name; });

TEST(PellixViewProgram, OverlayScriptErrorsNameTheLineAndEndTheProgram)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString scriptPath = dir.filePath(QStringLiteral("overlay.txt"));
    ASSERT_TRUE(WriteFile(scriptPath, "# a rectangle\nAddOverlayRect -1 40 40 240 160 1 yellow none 0\n"));
    QString output;
    EXPECT_EQ(RunPellixView({"--overlay", scriptPath}, QString(), dir, &output), 1);
    EXPECT_TRUE(output.contains(scriptPath +
                                ":2: AddOverlayRect's color is \"yellow\", not a colour (#RRGGBB, none or a number)"))
        << output.toStdString();
    EXPECT_EQ(RunPellixView({"--backend", "vulkan"}, QString(), dir, &output), 2);
    EXPECT_TRUE(output.contains("--backend takes auto, gdi, soft or gl")) << output.toStdString();
}

} // namespace
} // namespace pxtest
