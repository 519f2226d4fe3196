// The process-wide credential prompt that a host replaces with PXSetCredentialPrompt. The default
// has no one to ask and answers "cancelled". Safe to set and call from any thread.
#pragma once

#include "pellix/pellix.h"

void SetCredentialPrompt(PXCredentialPrompt prompt);
// Never null.
PXCredentialPrompt CurrentCredentialPrompt();
