// What the settings store asks of the platform about file names (exe_path_<platform>.cpp).
#pragma once

#include <string>

namespace settings {

// Full file name of the running executable. Raises EIniFileException if the platform
// cannot report it.
std::string ExecutablePath();

// The user's own configuration folder ($XDG_CONFIG_HOME or ~/.config; %APPDATA%), or ""
// when the system names none.
std::string UserConfigDir();

// Whether new files can be made in a folder.
bool FolderWritable(const std::string& folder);

// Whether this user may write an existing settings file: his own file (a read-only mark he
// set is his to lift, and shows as a refused write) or one the system lets him write, where
// a write can replace it. False for a file that is missing.
bool FileWritable(const std::string& file);

// Makes the folder that will hold `file`, with its parents; failures are left to the write.
void MakeFolderFor(const std::string& file);

}  // namespace settings
