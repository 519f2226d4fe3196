// Process-wide message boxes and debug output.
//
// The library has no window of its own, so its error boxes go to a handler that a host may
// replace (a GUI host shows a dialog). The default writes "caption: text" to standard error.
// Debug output is the stand-in for the debugger's output window: by default it goes to standard
// error only when the environment variable PELLIX_DEBUG_OUTPUT is "1". Both are safe to call
// from any thread; a replaced handler must be too.
#pragma once

namespace px {

using MessageBoxHandler = void (*)(const char* text, const char* caption, void* user);
using DebugOutputSink = void (*)(const char* text, void* user);

// Null restores the default.
void SetMessageBoxHandler(MessageBoxHandler handler, void* user);
void ShowMessageBox(const char* text, const char* caption);

void SetDebugOutputSink(DebugOutputSink sink, void* user);
void DebugOutput(const char* text);

} // namespace px
