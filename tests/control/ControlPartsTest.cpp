// The control's plain parts: its texts, the server address, the text conversions, the variants
// and the packed arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/ControlText.h"
#include "control/PackedArray.h"
#include "control/RegionFit.h"
#include "control/Variant.h"

using namespace pxcontrol;

namespace {

std::string Own(BSTR text)
{
    std::string s = text != nullptr ? text : "(null)";
    free(text);
    return s;
}

std::vector<uint8_t> Packed(uint32_t vt, uint32_t count, std::vector<uint8_t> elements)
{
    std::vector<uint8_t> b(8 + elements.size());
    memcpy(b.data(), &vt, 4);
    memcpy(b.data() + 4, &count, 4);
    std::copy(elements.begin(), elements.end(), b.begin() + 8);
    return b;
}

} // namespace

TEST(ControlText, ErrorMessagesAndStartTexts)
{
    const struct {
        uint32_t code;
        const char* message;
        const char* start;
    } cases[] = {
        {0, "Success", "Unknown error"},
        {2010, "ERROR: Invalid channel id.", "Unknown error"},
        {2020, "ERROR: Could not initialize communication with remote server.", "Unknown error"},
        {2030, "ERROR: Invalid buffer id.", "Unknown error"},
        {2040, "ERROR: Invalid command received.", "Unknown error"},
        {2050, "ERROR: functionality not supported.", "Unknown error"},
        {2060, "ERROR: out of memory.", "Unknown error"},
        {2070, "ERROR: Parameters provided not valid.", "Unknown error"},
        {2090, "ERROR: Unknown error occured.", "Not enough resources to create client"},
        {3000, "ERROR: Lost communication with server.", "Timeout. Connection lost with server"},
        {3010, "ERROR: The camera is no longer reachable.", "Unknown error"},
        {2100, "ERROR: Unknown error occured.", "Unknown error"},
        {1, "ERROR: Unknown error occured.", "Unknown error"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(ErrorMessageOf(c.code), c.message) << c.code;
        EXPECT_STREQ(StartErrorTextOf(c.code), c.start) << c.code;
    }
}

TEST(ControlText, ServerAddressIsANameOrFourNumbers)
{
    const struct {
        const char* text;
        bool name;
        const char* expectedName;
        uint8_t ip[4];
    } cases[] = {
        {"192.168.1.20", false, "", {192, 168, 1, 20}},
        {"10.0.0", false, "", {10, 0, 0, 0}},           // a missing number is 0
        {"300.1.2.3", false, "", {44, 1, 2, 3}},        // modulo 256
        {"1-2 3x4", false, "", {1, 2, 3, 4}},           // any one character ends a number
        {"12345.6.7.8", false, "", {123, 6, 7, 8}},     // digits after the third are passed over
        {"1..2", false, "", {1, 0, 2, 0}},
        {"kelvo-cam", true, "kelvo-cam", {}},
        {"", true, "", {}},
        {"a-name-that-is-exactly-32-bytes!", true, "", {}}, // 32 bytes do not fit: an empty address
        {"1234567890.1234567890.12345678901", true, "", {}},
    };
    for (const auto& c : cases) {
        SServerAddress a;
        ParseServerAddress(c.text, &a);
        EXPECT_EQ(a.bIsName, c.name) << c.text;
        EXPECT_STREQ(a.szName, c.expectedName) << c.text;
        EXPECT_EQ(memcmp(a.byIP, c.ip, 4), 0) << c.text;
    }
}

TEST(ControlText, Utf16AndUtf8RoundTrip)
{
    // "aé€😀" in UTF-16: a, U+00E9, U+20AC, a surrogate pair, then a 0 that ends the text.
    const uint8_t units[] = {'a', 0, 0xE9, 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE, 0, 0, 'x', 0};
    EXPECT_EQ(Own(Utf16ToUtf8(units, 7)), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Own(Utf16ToUtf8(units, 2)), "a\xC3\xA9"); // the count bounds the text
    const uint8_t lone[] = {0x00, 0xD8, 'b', 0};        // an unpaired surrogate
    EXPECT_EQ(Own(Utf16ToUtf8(lone, 2)), "\xEF\xBF\xBD" "b");

    const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    ASSERT_EQ(Utf8ToUtf16(text, nullptr, 0), 10u);
    uint8_t out[10];
    Utf8ToUtf16(text, out, sizeof out);
    EXPECT_EQ(memcmp(out, units, 10), 0);
    EXPECT_EQ(Utf8ToUtf16("abc", nullptr, 0), 6u);
    uint8_t bad[2];
    ASSERT_EQ(Utf8ToUtf16("\xC3", bad, sizeof bad), 2u); // a cut sequence
    EXPECT_EQ(bad[0] | (bad[1] << 8), 0xFFFD);
}

TEST(ControlText, BoundedAppendStopsAtTheEnd)
{
    char buffer[8] = "ab";
    AppendBounded(buffer, sizeof buffer, "cdefghij");
    EXPECT_STREQ(buffer, "abcdefg");
}

TEST(ControlVariant, IntegersTakeAnyIntegerTypeAndKeepTheirBits)
{
    PXVariant v{};
    uint32_t u = 0;
    int16_t s = 0;
    v.vt = PX_VT_I4;
    v.v.lVal = -1;
    ASSERT_EQ(VariantToU32(v, &u), S_OK);
    EXPECT_EQ(u, 0xFFFFFFFFu); // a colour given as -1
    v.vt = PX_VT_BOOL;
    v.v.boolVal = -1;
    ASSERT_EQ(VariantToI16(v, &s), S_OK);
    EXPECT_EQ(s, -1);
    v.vt = PX_VT_UI8;
    v.v.ullVal = 0x100000007ull;
    ASSERT_EQ(VariantToU32(v, &u), S_OK);
    EXPECT_EQ(u, 7u);
    v.vt = PX_VT_R8;
    v.v.dblVal = 2.0;
    EXPECT_EQ(VariantToU32(v, &u), DISP_E_TYPEMISMATCH);
    float f = 0;
    ASSERT_EQ(VariantToFloat(v, &f), S_OK);
    EXPECT_EQ(f, 2.0f);
    v.vt = PX_VT_UI4;
    v.v.ulVal = 3000000000u;
    ASSERT_EQ(VariantToFloat(v, &f), S_OK);
    EXPECT_EQ(f, 3000000000.0f);
    const char* text = nullptr;
    EXPECT_EQ(VariantToText(v, &text), DISP_E_TYPEMISMATCH);
    v = VariantOfText(nullptr);
    ASSERT_EQ(VariantToText(v, &text), S_OK);
    EXPECT_STREQ(text, "");
    v.vt = PX_VT_EMPTY;
    EXPECT_EQ(VariantToI32(v, reinterpret_cast<int32_t*>(&u)), DISP_E_TYPEMISMATCH);
}

TEST(ControlVariant, PackedArraysArriveAsVariants)
{
    // Three 16-bit values: a three-element array of I2.
    std::vector<uint8_t> data = Packed(PX_VT_I2, 3, {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80});
    PXVariant v{};
    ASSERT_EQ(UnpackArray(data.data(), data.size(), &v), S_OK);
    ASSERT_EQ(v.vt, PX_VT_ARRAY | PX_VT_VARIANT);
    ASSERT_EQ(v.v.array.count, 3u);
    EXPECT_EQ(v.v.array.items[0].vt, PX_VT_I2);
    EXPECT_EQ(v.v.array.items[0].v.iVal, 1);
    EXPECT_EQ(v.v.array.items[1].v.iVal, -1);
    EXPECT_EQ(v.v.array.items[2].v.iVal, -32768);
    VariantClear(&v);
    EXPECT_EQ(v.vt, PX_VT_EMPTY);

    // The array flag is ignored in the type; a count the data cannot hold is cut to the data.
    data = Packed(PX_VT_ARRAY | PX_VT_R8, 1000, std::vector<uint8_t>(16, 0));
    ASSERT_EQ(UnpackArray(data.data(), data.size(), &v), S_OK);
    EXPECT_EQ(v.v.array.count, 2u);
    EXPECT_EQ(v.v.array.items[1].vt, PX_VT_R8);
    VariantClear(&v);

    // A type with bit 3 set carries UTF-16 text.
    data = Packed(PX_VT_BSTR, 2, {'o', 0, 'k', 0, '!', 0});
    ASSERT_EQ(UnpackArray(data.data(), data.size(), &v), S_OK);
    ASSERT_EQ(v.vt, PX_VT_BSTR);
    EXPECT_STREQ(v.v.str, "ok");
    VariantClear(&v);

    // Unknown types and short data give nothing.
    data = Packed(PX_VT_I8, 1, std::vector<uint8_t>(8, 1));
    ASSERT_EQ(UnpackArray(data.data(), data.size(), &v), S_OK);
    EXPECT_EQ(v.vt, PX_VT_EMPTY);
    ASSERT_EQ(UnpackArray(data.data(), 7, &v), S_OK);
    EXPECT_EQ(v.vt, PX_VT_EMPTY);
}

TEST(ControlVariant, ArraysArePackedOnlyWhenUniform)
{
    PXVariant items[2] = {};
    items[0].vt = PX_VT_R8;
    items[0].v.dblVal = 1.5;
    PXVariant array{};
    array.vt = PX_VT_ARRAY | PX_VT_VARIANT;
    array.v.array.items = items;
    array.v.array.count = 1;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(PackArray(array, &bytes));
    std::vector<uint8_t> expected = Packed(PX_VT_R8, 1, std::vector<uint8_t>(8));
    const double value = 1.5;
    memcpy(expected.data() + 8, &value, 8);
    EXPECT_EQ(bytes, expected); // 16 bytes: type 5, count 1, the double

    items[1].vt = PX_VT_I4;
    array.v.array.count = 2;
    EXPECT_FALSE(PackArray(array, &bytes)); // mixed types
    EXPECT_EQ(bytes.size(), 16u);
    items[1].vt = PX_VT_R8;
    ASSERT_TRUE(PackArray(array, &bytes));
    EXPECT_EQ(bytes.size(), 24u);

    array.v.array.count = 0;
    EXPECT_FALSE(PackArray(array, &bytes)); // no element, no type
    items[0].vt = items[1].vt = PX_VT_BSTR;
    array.v.array.count = 2;
    EXPECT_FALSE(PackArray(array, &bytes));
    array.vt = PX_VT_ARRAY | PX_VT_I4;
    EXPECT_FALSE(PackArray(array, &bytes));

    const struct {
        uint32_t vt, size;
    } sizes[] = {{PX_VT_I1, 1}, {PX_VT_UI1, 1}, {PX_VT_I2, 2},  {PX_VT_UI2, 2}, {PX_VT_I4, 4},   {PX_VT_UI4, 4},
                 {PX_VT_INT, 4}, {PX_VT_UINT, 4}, {PX_VT_R4, 4}, {PX_VT_R8, 8}, {PX_VT_BOOL, 0}, {PX_VT_I8, 0}};
    for (const auto& s : sizes)
        EXPECT_EQ(PackedElementSize(s.vt), s.size) << s.vt;
}

TEST(ControlRegion, DraggedSizesAreFittedToTheImagesAspect)
{
    const struct {
        uint32_t dx, dy, fullX, fullY, width, height;
    } cases[] = {
        {100, 10, 640, 480, 100, 75},  {101, 10, 640, 480, 104, 78}, {10, 100, 640, 480, 136, 102},
        {64, 48, 640, 480, 64, 48},    // already of the image's ratio
        {0, 0, 640, 480, 0, 0},        {5, 0, 640, 480, 8, 6},
        {10, 1, 1000, 1, 1000, 1},     // ratio terms 1000 : 1
        {7, 9, 0, 480, 7, 9},          // no full size: as dragged
    };
    for (const auto& c : cases) {
        const SSize fit = FitAspect(c.dx, c.dy, c.fullX, c.fullY);
        EXPECT_EQ(fit.width, c.width) << c.dx << "x" << c.dy;
        EXPECT_EQ(fit.height, c.height) << c.dx << "x" << c.dy;
    }
    EXPECT_EQ(Distance(-5, 10), 15u);
    EXPECT_EQ(Distance(10, -5), 15u);
}
