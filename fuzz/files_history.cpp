// Any bytes as a history file: at most ten entries, and what is saved reads back the same.
#include "files/ModeFile.h"
#include "files/ModeFileHistory.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    varko::ModeFileHistory history;
    history.LoadText(text);
    if (history.Size() > varko::ModeFileHistory::MaxEntries) {
        std::abort();
    }
    varko::ModeFileHistory again;
    again.LoadText(history.SaveText());
    if (again.Entries() != history.Entries()) {
        std::abort();
    }
    history.Insert("/new.vmod");
    if (history.Size() > varko::ModeFileHistory::MaxEntries || history[0] != "/new.vmod" ||
        history.ComboItems().size() != history.Size() + 1) {
        std::abort();
    }
    return 0;
}
