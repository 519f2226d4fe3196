// The control's traces (log section 3, level 4, and the debug output) and the start of its log.
#pragma once

#include <cstdint>

namespace pxcontrol {

// Starts the log the configuration asks for ("LogFileName" in the per-user folder): libpellix's,
// so that the library's own traces land there, and this module's, for the control's and the
// display's records (in a static build the two are one logger). Without the value, libpellix is
// called with no path, which makes no log.
void InitControlLogger();

// When a log exists: the text to the debug output and as a record of section 3 at level 4.
void ControlTrace(const char* text);
void ControlTraceFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whether a log exists, for callers that would otherwise format for nothing.
bool ControlLogActive();
// Names the calling thread in the log, when one exists.
void ControlNameThread(const char* name);

} // namespace pxcontrol
