// Reading Varko.ini into the settings dialog at start-up and writing it back at exit. Both
// report failure with the text the player is shown; the caller shows it and goes on.
#pragma once

#include <functional>
#include <string>

namespace varko {

class TSettingsDialog;

// Reads the settings file at path (missing: every default, the first run) and applies it
// through the dialog, which opens the stored driver and starts the audio. setMasterLevel
// moves the main window's master fader (0..200). On failure (an unreadable file, or an
// exception from a handler) returns false with message "Your settings could not be
// retrieved."; keys applied before the failure stay applied. Never throws.
bool LoadSettingsFile(TSettingsDialog& dialog, const std::string& path,
                      const std::function<void(int)>& setMasterLevel, std::string& message);

// Writes the dialog's state and the master level into the file at path, creating its folder,
// keeping other keys and sections. On failure returns false with message "Your settings could
// not be saved."; the file is then left as it was. Never throws.
bool SaveSettingsFile(const TSettingsDialog& dialog, const std::string& path, int masterLevel,
                      std::string& message);
bool SaveSettingsFile(const TSettingsDialog& dialog, const std::string& path, int masterLevel);

} // namespace varko
