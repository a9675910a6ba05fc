// The desktop program's own settings file ($XDG_CONFIG_HOME/kt6200/kt6200.conf, Qt's settings
// format): where the window was last closed. Qt reads the whole file as the settings object is
// made, with a blocking open, so the file is checked first: a FIFO there would hold the program
// before its window appears, a device would never end.
#pragma once

#include <QSettings>
#include <memory>
#include <string>

namespace kt::qt {

// The settings file's path.
std::string WindowSettingsPath();

// The settings over the file when it is missing or a regular file within the settings limit;
// otherwise none, and `why` names the file and the reason. Without them the window opens at its
// default place and its place is not kept.
std::unique_ptr<QSettings> OpenWindowSettings(std::string& why);

}  // namespace kt::qt
