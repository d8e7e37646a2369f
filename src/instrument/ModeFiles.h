// The vibration mode files: the history of files read, the one selected, and its modes. Owner's
// thread only; a bank gets copies of the modes when it is built.
#pragma once

#include "files/ModeFileHistory.h"
#include "instrument/InstrumentMessage.h"

#include <string>
#include <vector>

namespace varko {

class TModeFiles {
public:
    // changed runs after every read, also a failed one (the modes are then gone).
    TModeFiles(TTell tell, TChanged changed);
    TModeFiles(const TModeFiles&) = delete;
    TModeFiles& operator=(const TModeFiles&) = delete;

    // The files read, most recent first (the history file's order).
    const ModeFileHistory& History() const { return history_; }
    ModeFileHistory& History() { return history_; }
    const std::vector<float>& Ratios() const { return ratios_; }
    const std::vector<float>& Levels() const { return levels_; }
    // Reads a file chosen by the player: it goes on top of the history and is selected.
    bool Load(const std::string& path);
    // Reads history entry i; one that cannot be opened leaves the history.
    bool LoadFromHistory(int entry);
    // Which entry names the object in the status bar (-1: none), without reading it.
    void Select(int entry) { selected_ = entry; }
    int Selected() const { return selected_; }
    // The selected entry's path and name ("" for none).
    std::string SelectedPath() const;
    std::string Name() const;
    // The file read last has faulty lines, or the bank built last found modes it left out.
    bool Warning() const { return warning_; }
    void BankWarns(bool warn) { warning_ = warning_ || warn; }

private:
    void Take(std::vector<float> ratios, std::vector<float> levels, bool warning);

    TTell tell_;
    TChanged changed_;
    ModeFileHistory history_;
    std::vector<float> ratios_, levels_;
    int selected_ = -1;
    bool warning_ = false;
};

} // namespace varko
