#include "platform/Messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace px;

TEST(Messages, HandlersReceiveTextAndNullRestoresDefault)
{
    std::string seen;
    SetMessageBoxHandler([](const char* text, const char* caption, void* user) {
        *static_cast<std::string*>(user) = std::string(caption) + "|" + text;
    }, &seen);
    ShowMessageBox("Connection lost", "Pellix Error");
    EXPECT_EQ(seen, "Pellix Error|Connection lost");
    ShowMessageBox(nullptr, nullptr);
    EXPECT_EQ(seen, "|");
    SetMessageBoxHandler(nullptr, nullptr);

    std::string out;
    SetDebugOutputSink([](const char* text, void* user) { *static_cast<std::string*>(user) += text; }, &out);
    DebugOutput("EndTransfers()\n");
    DebugOutput("x");
    EXPECT_EQ(out, "EndTransfers()\nx");
    SetDebugOutputSink(nullptr, nullptr);
    unsetenv("PELLIX_DEBUG_OUTPUT");
    testing::internal::CaptureStderr();
    ShowMessageBox("text", "caption");
    DebugOutput("hidden unless PELLIX_DEBUG_OUTPUT=1");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "caption: text\n");
}
