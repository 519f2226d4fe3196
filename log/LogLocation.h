// Where the viewer control keeps its log: the configuration value "LogFileName" names a file in
// the component's per-user folder ($XDG_DATA_HOME, else ~/.local/share, then Dravik/Vistel/).
#pragma once

#include <string>

// Reads "LogFileName" from the configuration store and joins it to the per-user folder, creating
// the folders on the way (a failure there is left to the opening of the file to show). False
// when the value is missing or empty, or no per-user folder is known.
bool LogFilePathFromConfig(std::string* path);

// The viewer control's start of logging: PXInitLogger on the configured path, or with no path
// (no log) when the value is missing or no per-user folder is known.
void InitLoggerFromConfig();
