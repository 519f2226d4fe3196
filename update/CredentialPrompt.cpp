#include "update/CredentialPrompt.h"

#include <atomic>

namespace {

int CancelledPrompt(const char*, const char*, char*, uint32_t, char*, uint32_t) { return 0; }

std::atomic<PXCredentialPrompt> g_prompt{&CancelledPrompt};

} // namespace

void SetCredentialPrompt(PXCredentialPrompt prompt) { g_prompt.store(prompt != nullptr ? prompt : &CancelledPrompt); }

PXCredentialPrompt CurrentCredentialPrompt() { return g_prompt.load(); }
