// The waits of the update facility. Production keeps the defaults; the library's own tests
// shorten them (a camera that never answers must not cost a test a minute).
#pragma once

#include "update/HttpTransport.h"

struct UpdateTiming {
    HttpTimeouts http;   // each request of the web-service client
};

UpdateTiming CurrentUpdateTiming();
// Applies to clients made after the call; UpdateTiming{} restores the defaults.
void SetUpdateTimingForTests(const UpdateTiming& timing);
