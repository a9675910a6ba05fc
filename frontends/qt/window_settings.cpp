#include "frontends/qt/window_settings.h"

#include <sys/stat.h>

#include <QStandardPaths>
#include <cerrno>
#include <cstdint>

#include "common/settings_file.h"
#include "common/text_format.h"
#include "fileio/file_access.h"

namespace kt::qt {

std::string WindowSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
           "/kt6200/kt6200.conf";
}

std::unique_ptr<QSettings> OpenWindowSettings(std::string& why) {
    const std::string path = WindowSettingsPath();
    struct stat st {};
    // A missing file is made at the first close, as Qt makes it.
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
    std::string reason;
    const fileio::File file = fileio::OpenForReading(path, reason);
    if (file.IsOpen() && ::fstat(file.Get(), &st) == 0 &&
        static_cast<std::uint64_t>(st.st_size) > kSettingsFileLimit)
        reason = Format("larger than %zu MiB, the limit of a settings file", kSettingsFileLimit >> 20);
    else if (file.IsOpen())
        return std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
    why = path + ": " + reason + "; the window opens at its default place and its place is not kept";
    return nullptr;
}

}  // namespace kt::qt
