// Where the viewer control keeps its log: the configuration value "LogFileName" names a file in
// the per-user data folder ($XDG_DATA_HOME, else ~/.local/share) under Dravik/Vistel/.
#pragma once

#include <string>

// Joins the per-user data folder, "/Dravik/Vistel/" and fileName. The folder is xdgDataHome when
// that is an absolute path, else home + "/.local/share"; false when neither gives one or fileName
// is empty. Touches nothing.
bool BuildLogFilePath(const char* xdgDataHome, const char* home, const std::string& fileName, std::string* path);

// Reads "LogFileName" from the configuration store and builds the path from the environment,
// creating the folders on the way (failures are left to the opening of the file to show).
bool LogFilePathFromConfig(std::string* path);

// The viewer control's start of logging: PXInitLogger on the configured path, or with no path
// (no log) when the value is missing or no per-user folder is known.
void InitLoggerFromConfig();
