// pellix-view as a person runs it: a real X server (Xvfb, through xvfb-run), the bundled
// simulator, a screenshot after 150 frames. The picture must be the simulator's pattern of one of
// its frames (the moving bar and the frame number included) with the frame-rate text over it.
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "QtTestUtil.h"
#include "sim/SimPattern.h"

namespace pxtest {
namespace {

constexpr int kFullX = 640, kFullY = 480;   // the bundled simulator's image

// The frame-rate text's box in the upper left corner of a window.
bool InFrameRateBox(int x, int y) { return x >= 5 && x < 70 && y >= 5 && y < 25; }

// Pixels of a frame, shown stretched to the screenshot's size, that differ from it outside (or
// inside) the frame-rate box.
struct Mismatch {
    size_t outside = 0, inside = 0;
};
Mismatch Compare(const Picture& shot, uint64_t serial)
{
    const Picture want = Stretch(CameraPicture(kFullX, kFullY, PX_FORMAT_MONO8, serial), shot.width, shot.height);
    Mismatch m;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            if (shot.At(x, y) != want.At(x, y))
                ++(InFrameRateBox(x, y) ? m.inside : m.outside);
        }
    }
    return m;
}

// The frame's number modulo 256, from the grey ramp (x + 2y + 3 frame, its top bit flipped in
// every other 32-pixel square): the value most sample points agree on.
uint64_t SerialModulo256(const Picture& shot)
{
    size_t best = 0, bestVotes = 0;
    for (uint64_t s = 0; s < 256; ++s) {
        size_t votes = 0;
        for (int y = 40; y < shot.height; y += 13) {
            for (int x = 0; x < shot.width; x += 11) {
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

TEST(PellixViewProgram, ScreenshotUnderXvfbShowsTheMovingPatternWithTheFrameRate)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shotPath = dir.filePath(QStringLiteral("shot.png"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));   // the X server's, not the off-screen one
    environment.insert(QStringLiteral("LSAN_OPTIONS"), environment.value(QStringLiteral("LSAN_OPTIONS")) +
                                                           QStringLiteral(":suppressions=" PELLIX_VIEW_LSAN_SUPPRESSIONS));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral("xvfb-run"), {"-a", "-s", "-screen 0 1024x768x24", PELLIX_VIEW_PROGRAM,
                                               "--screenshot", shotPath, "--frames", "150"});
    ASSERT_TRUE(program.waitForStarted(30000)) << "xvfb-run: " << program.errorString().toStdString();
    ASSERT_TRUE(program.waitForFinished(240000));
    ASSERT_EQ(program.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(program.exitCode(), 0);

    QImage image;
    ASSERT_TRUE(image.load(shotPath, "PNG"));
    const Picture shot = PictureOf(image);
    ASSERT_GE(shot.width, 160);
    ASSERT_GE(shot.height, 120);

    // The frame: its number modulo 256 from the ramp, then the one of those numbers whose bar and
    // label match.
    const uint64_t low = SerialModulo256(shot);
    uint64_t serial = low;
    Mismatch best{SIZE_MAX, 0};
    for (uint64_t s = low; s < 4096; s += 256) {
        const Mismatch m = Compare(shot, s);
        if (m.outside < best.outside)
            serial = s, best = m;
    }
    EXPECT_EQ(best.outside, 0u) << "frame " << serial;
    EXPECT_GE(serial, 100u);   // 150 frames were counted; the first may predate the window
    // The frame-rate text covers the label's corner: black text on white ground.
    EXPECT_GE(best.inside, 50u);
    EXPECT_GE(CountColour(shot, 0x000000, 5, 5, 70, 25), 10u);
    EXPECT_GE(CountColour(shot, 0xFFFFFF, 5, 5, 70, 25), 10u);
}

} // namespace
} // namespace pxtest
