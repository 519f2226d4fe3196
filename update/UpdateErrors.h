// The texts of the update error codes: the procedure's own (0x801 to 0x80B) and the final status
// of the camera's update tool.
#pragma once

// Null for a code without a text.
const char* UpdateErrorText(int code);
