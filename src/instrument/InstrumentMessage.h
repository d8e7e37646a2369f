// What the instrument's parts tell the player, and how they hand it to the owner.
#pragma once

#include <functional>
#include <string>

namespace varko {

// Something the player must be told: an error (the action did not happen) or a warning.
struct TInstrumentMessage {
    enum class TKind { Error, Warning };
    TKind Kind = TKind::Error;
    std::string Text; // one of the program's texts, complete
};

// A part's way to the owner: tell the player, or say that what it shows changed. Both run on
// the owner's thread.
using TTell = std::function<void(TInstrumentMessage::TKind, std::string)>;
using TChanged = std::function<void()>;

} // namespace varko
