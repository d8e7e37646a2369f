#include "ui/dialogs/SettingsIO.h"

#include "core/Texts.h"
#include "ui/dialogs/SettingsDialog.h"
#include "files/IniFile.h"
#include "files/SettingsFile.h"

#include <exception>
#include <filesystem>

namespace varko {

bool LoadSettingsFile(TSettingsDialog& dialog, const std::string& path,
                      const std::function<void(int)>& setMasterLevel, std::string& message) {
    message.clear();
    try {
        TIniFile ini;
        const bool readable = ini.Load(path) != TIniFile::TLoadResult::Unreadable;
        // A file that cannot be read still leaves the audio started as on a first run.
        dialog.ApplySettings(readable ? ReadSettings(ini) : TVarkoSettings{}, setMasterLevel);
        if (readable) {
            return true;
        }
    } catch (...) {
    }
    message = text::SettingsNotRetrieved;
    return false;
}

bool SaveSettingsFile(const TSettingsDialog& dialog, const std::string& path, int masterLevel,
                      std::string& message) {
    message.clear();
    try {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        TIniFile ini;
        // An existing file that cannot be read is not overwritten: the player's other keys
        // would be lost.
        if ((folder.empty() || EnsureFolder(folder)) &&
            ini.Load(path) != TIniFile::TLoadResult::Unreadable) {
            WriteSettings(ini, dialog.CurrentSettings(masterLevel));
            if (ini.Save(path)) {
                return true;
            }
        }
    } catch (...) {
    }
    message = text::SettingsNotSaved;
    return false;
}

bool SaveSettingsFile(const TSettingsDialog& dialog, const std::string& path, int masterLevel) {
    std::string message;
    return SaveSettingsFile(dialog, path, masterLevel, message);
}

} // namespace varko
