#include "instrument/ModeFiles.h"

#include "core/Texts.h"
#include "files/ModeFile.h"

namespace varko {

TModeFiles::TModeFiles(TTell tell, TChanged changed)
    : tell_(std::move(tell)), changed_(std::move(changed)) {}

void TModeFiles::Take(std::vector<float> ratios, std::vector<float> levels, bool warning) {
    ratios_ = std::move(ratios);
    levels_ = std::move(levels);
    warning_ = warning;
}

bool TModeFiles::Load(const std::string& path) {
    Take({}, {}, false);
    ModeFile file = ReadModeFile(path);
    if (!file.Opened) {
        changed_();
        tell_(TInstrumentMessage::TKind::Error, text::ModeFileNotOpened);
        return false;
    }
    history_.Insert(path);
    selected_ = 0;
    Take(std::move(file.Ratios), std::move(file.Levels), file.HasFaultyLines);
    changed_();
    return true;
}

bool TModeFiles::LoadFromHistory(int entry) {
    Take({}, {}, false);
    if (entry < 0 || entry >= static_cast<int>(history_.Size())) {
        changed_();
        return false;
    }
    ModeFile file = ReadModeFile(history_[static_cast<size_t>(entry)]);
    if (!file.Opened) {
        tell_(TInstrumentMessage::TKind::Error, text::ModeFileNotOpened);
        history_.Remove(static_cast<size_t>(entry));
        selected_ = -1;
        changed_();
        return false;
    }
    selected_ = entry;
    Take(std::move(file.Ratios), std::move(file.Levels), file.HasFaultyLines);
    changed_();
    return true;
}

std::string TModeFiles::SelectedPath() const {
    if (selected_ < 0 || selected_ >= static_cast<int>(history_.Size())) {
        return {};
    }
    return history_[static_cast<size_t>(selected_)];
}

std::string TModeFiles::Name() const {
    const std::string path = SelectedPath();
    return path.empty() ? std::string() : ModeFileItemName(path);
}

} // namespace varko
