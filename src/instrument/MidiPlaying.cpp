#include "instrument/MidiPlaying.h"

#include "core/MidiBytes.h"

#include <algorithm>
#include <cmath>

namespace varko {

namespace {

constexpr float Full7 = 127.0f;
constexpr float BendCentre = 8192.0f;

} // namespace

TMidiPlaying::TMidiPlaying(IToneTarget& oscillators, TCallers callers)
    : tones_(oscillators), callers_(callers) {
    pitches_.fill(1.0f);
}

std::unique_lock<std::recursive_mutex> TMidiPlaying::Lock() const {
    return callers_ == TCallers::AnyThread ? std::unique_lock(mutex_)
                                           : std::unique_lock(mutex_, std::defer_lock);
}

void TMidiPlaying::SetReferenceNote(int note) {
    const auto lock = Lock();
    referenceNote_ = std::clamp(note, 0, 127);
}

int TMidiPlaying::ReferenceNote() const {
    const auto lock = Lock();
    return referenceNote_;
}

void TMidiPlaying::SetMpe(bool on) {
    const auto lock = Lock();
    mpe_ = on;
}

bool TMidiPlaying::Mpe() const {
    const auto lock = Lock();
    return mpe_;
}

void TMidiPlaying::SetBendPitch(bool on) {
    const auto lock = Lock();
    bendPitch_ = on;
    if (!on) {
        for (size_t tone = 0; tone < pitches_.size(); ++tone) {
            WritePitch(static_cast<int>(tone), 1.0f);
        }
        return;
    }
    for (const TNote& n : notes_) {
        if (n.Held) {
            WritePitch(n.Tone, NotePitch(n));
        }
    }
}

bool TMidiPlaying::BendPitch() const {
    const auto lock = Lock();
    return bendPitch_;
}

void TMidiPlaying::SetKeyTones(const std::array<int, 128>* keyTones) {
    const auto lock = Lock();
    keyMapped_ = keyTones != nullptr;
    if (keyTones != nullptr) {
        keyTones_ = *keyTones;
    }
}

int TMidiPlaying::ToneOf(int number) const {
    if (keyMapped_) {
        return keyTones_[static_cast<size_t>(number)];
    }
    return scaleStart_ < 0 ? -1 : scaleStart_ + number - referenceNote_;
}

void TMidiPlaying::SetReleaseDamps(bool on) {
    const auto lock = Lock();
    releaseDamps_ = on;
}

bool TMidiPlaying::ReleaseDamps() const {
    const auto lock = Lock();
    return releaseDamps_;
}

void TMidiPlaying::MarkHeldTones(std::vector<bool>& held) const {
    const auto lock = Lock();
    for (size_t t = 0; t < held.size() && t < holders_.size(); ++t) {
        if (holders_[t] != 0) {
            held[t] = true;
        }
    }
}

int TMidiPlaying::HeldNotes() const {
    const auto lock = Lock();
    return static_cast<int>(
        std::count_if(notes_.begin(), notes_.end(), [](const TNote& n) { return n.Held; }));
}

void TMidiPlaying::ReplaceBank(int scaleStart, const std::function<void()>& replace) {
    bool struck = false;
    {
        const auto lock = Lock();
        replace();
        holders_.fill(0);
        sustained_.fill(0);
        speeds_.fill(0.0f);
        pitches_.fill(1.0f); // the new tones start unbent
        scaleStart_ = scaleStart;
        for (TNote& n : notes_) {
            if (!n.Held) {
                continue;
            }
            const int tone = ToneOf(n.Number);
            if (tone < 0 || tone >= tones_.ToneCount() || tone >= MaxTones) {
                n = TNote{};
                continue;
            }
            // The key is still down: its bar in the new bank is struck as the key struck.
            n.Tone = tone;
            n.Striking = true;
            n.StrikeStart = Clock ? Clock() : lastSeconds_;
            n.Movement = 0.0f;
            ++holders_[static_cast<size_t>(tone)];
            const TSource& s = sources_[static_cast<size_t>(n.Source)];
            int slide = s.Channels[static_cast<size_t>(n.Channel)].Slide;
            if (const int manager = ManagerOf(s, n.Channel); slide < 0 && manager >= 0) {
                slide = s.Channels[static_cast<size_t>(manager)].Slide;
            }
            tones_.SetStrikePosition(tone, slide < 0 ? 0.5f : static_cast<float>(slide) / Full7);
            if (bendPitch_) {
                WritePitch(tone, NotePitch(n));
            }
            ApplyPressure(n);
            WriteSpeed(tone, StrikeSpeed);
            struck = true;
        }
    }
    if (struck && OnStruck) {
        OnStruck();
    }
}

void TMidiPlaying::TPenTones::SetPressure(int tone, float value) {
    const auto lock = midi_.Lock();
    if (tone < 0 || tone >= MaxTones || midi_.holders_[static_cast<size_t>(tone)] == 0) {
        // A bar a released note left bent sounds at its own pitch under the pen.
        if (value > 0.0f && tone >= 0 && tone < MaxTones) {
            midi_.WritePitch(tone, 1.0f);
        }
        midi_.tones_.SetPressure(tone, value);
    }
}

// ---------------------------------------------------------------------------------------
// Messages

void TMidiPlaying::Message(int source, const uint8_t* bytes, size_t size, double seconds) {
    if (source < 0 || source >= Sources || bytes == nullptr || size == 0) {
        return;
    }
    const uint8_t status = bytes[0];
    const int data = MidiDataBytes(status);
    if (data == 0 || size != 1 + static_cast<size_t>(data)) {
        return;
    }
    for (size_t i = 1; i < size; ++i) {
        if (bytes[i] >= 0x80) {
            return; // a data byte out of range: the message is broken, not a note above 127
        }
    }
    const int channel = status & 0x0F;
    const int d1 = bytes[1];
    const int d2 = size > 2 ? bytes[2] : 0;
    bool shown = false;
    float pressure = 0.0f;
    {
        const auto lock = Lock();
        lastSeconds_ = std::max(lastSeconds_, seconds);
        pressureShown_ = false;
        switch (status & 0xF0) {
        case 0x80:
            if (TNote* n = Find(source, channel, d1)) {
                Release(*n);
            }
            break;
        case 0x90:
            if (d2 == 0) {
                if (TNote* n = Find(source, channel, d1)) {
                    Release(*n); // a note-on of velocity 0 is a note-off
                }
            } else {
                NoteOn(source, channel, d1, d2, seconds);
            }
            break;
        case 0xA0:
            if (TNote* n = Find(source, channel, d1)) {
                SetAftertouch(*n, static_cast<float>(d2) / Full7);
            }
            break;
        case 0xB0:
            Controller(source, channel, d1, d2);
            break;
        case 0xD0:
            for (TNote& n : notes_) {
                if (Reaches(n, source, channel)) {
                    SetAftertouch(n, static_cast<float>(d1) / Full7);
                }
            }
            break;
        case 0xE0: {
            TChannel& c =
                sources_[static_cast<size_t>(source)].Channels[static_cast<size_t>(channel)];
            const int bend = d1 | (d2 << 7);
            const float moved =
                std::fabs(static_cast<float>(bend - c.Bend)) / BendCentre * BendMovement;
            c.Bend = bend;
            for (TNote& n : notes_) {
                if (!Reaches(n, source, channel)) {
                    continue;
                }
                if (bendPitch_) {
                    WritePitch(n.Tone, NotePitch(n));
                } else {
                    n.Movement += moved;
                }
            }
            break;
        }
        default:
            break; // program change: the bars have one sound
        }
        shown = pressureShown_;
        pressure = shownPressure_;
    }
    if (shown && OnPressure) {
        OnPressure(pressure);
    }
}

bool TMidiPlaying::Reaches(const TNote& n, int source, int channel) const {
    return n.Held && n.Source == source &&
           (n.Channel == channel ||
            ManagerOf(sources_[static_cast<size_t>(source)], n.Channel) == channel);
}

int TMidiPlaying::ManagerOf(const TSource& s, int channel) const {
    if (!mpe_) {
        return -1;
    }
    if (s.LowerMembers > 0 && channel >= 1 && channel <= s.LowerMembers) {
        return 0;
    }
    if (s.UpperMembers > 0 && channel <= 14 && channel >= 15 - s.UpperMembers) {
        return 15;
    }
    return -1;
}

float TMidiPlaying::BendRangeOf(const TSource& s, int channel) const {
    const float set = s.Channels[static_cast<size_t>(channel)].BendRange;
    if (set >= 0.0f) {
        return set;
    }
    return ManagerOf(s, channel) >= 0 ? MemberBendRange : ManagerBendRange;
}

float TMidiPlaying::NotePitch(const TNote& n) const {
    const TSource& s = sources_[static_cast<size_t>(n.Source)];
    auto semitones = [&](int channel) {
        const float bend =
            static_cast<float>(s.Channels[static_cast<size_t>(channel)].Bend) - BendCentre;
        return bend / BendCentre * BendRangeOf(s, channel);
    };
    float total = semitones(n.Channel);
    if (const int manager = ManagerOf(s, n.Channel); manager >= 0) {
        total += semitones(manager); // the zone's bend moves all its notes
    }
    return std::exp2(total / 12.0f);
}

void TMidiPlaying::WritePitch(int tone, float ratio) {
    float& last = pitches_[static_cast<size_t>(tone)];
    if (last != ratio) {
        last = ratio;
        tones_.SetPitch(tone, ratio);
    }
}

TMidiPlaying::TNote* TMidiPlaying::Find(int source, int channel, int number) {
    for (TNote& n : notes_) {
        if (n.Held && n.Source == source && n.Channel == channel && n.Number == number) {
            return &n;
        }
    }
    return nullptr;
}

void TMidiPlaying::NoteOn(int source, int channel, int number, int velocity, double seconds) {
    const int tone = ToneOf(number);
    if (tone < 0 || tone >= tones_.ToneCount() || tone >= MaxTones) {
        return; // outside the tone list: no bar to play
    }
    TNote* n = Find(source, channel, number);
    if (n != nullptr) {
        // The same key again without a note-off: struck anew.
        const int old = n->Tone;
        --holders_[static_cast<size_t>(old)];
        if (old != tone && holders_[static_cast<size_t>(old)] == 0) {
            WritePressure(old, 0.0f);
        }
    } else {
        n = std::find_if(notes_.begin(), notes_.end(), [](const TNote& x) { return !x.Held; });
        if (n == notes_.end()) {
            return;
        }
    }
    const TSource& s = sources_[static_cast<size_t>(source)];
    // The finger's slide, or the manager channel's in a zone, or the middle of the bar.
    int slide = s.Channels[static_cast<size_t>(channel)].Slide;
    if (const int manager = ManagerOf(s, channel); slide < 0 && manager >= 0) {
        slide = s.Channels[static_cast<size_t>(manager)].Slide;
    }
    *n = TNote{};
    n->Held = true;
    n->Source = source;
    n->Channel = channel;
    n->Number = number;
    n->Tone = tone;
    n->Velocity = static_cast<float>(velocity) / Full7;
    n->Striking = true;
    n->StrikeStart = seconds;
    ++holders_[static_cast<size_t>(tone)];
    sustained_[static_cast<size_t>(tone)] = 0;
    tones_.SetStrikePosition(tone, slide < 0 ? 0.5f : static_cast<float>(slide) / Full7);
    // The bend a sender gives the channel before the note-on is where the note starts.
    WritePitch(tone, bendPitch_ ? NotePitch(*n) : 1.0f);
    ApplyPressure(*n);
    WriteSpeed(tone, StrikeSpeed);
}

void TMidiPlaying::Release(TNote& n) {
    n.Held = false;
    uint16_t& holders = holders_[static_cast<size_t>(n.Tone)];
    holders = static_cast<uint16_t>(holders - 1);
    if (holders > 0) {
        // Another note still holds the tone: its pressure stays.
        for (const TNote& other : notes_) {
            if (other.Held && other.Tone == n.Tone) {
                WritePressure(n.Tone, other.Pressure);
                return;
            }
        }
    }
    const uint8_t pedal = static_cast<uint8_t>(1u << n.Source);
    if (!releaseDamps_) {
        WritePressure(n.Tone, 0.0f); // the tone rings out
    } else if (sources_[static_cast<size_t>(n.Source)].Pedal) {
        sustained_[static_cast<size_t>(n.Tone)] |= pedal;
        WritePressure(n.Tone, 0.0f);
    } else {
        Damp(n.Tone);
    }
}

void TMidiPlaying::Damp(int tone) {
    sustained_[static_cast<size_t>(tone)] = 0;
    WriteSpeed(tone, 0.0f);
    WritePressure(tone, DampPressure);
}

void TMidiPlaying::SetAftertouch(TNote& n, float value) {
    // The first pressure message is where the finger rests, not a movement.
    if (n.Aftertouch >= 0.0f) {
        n.Movement += std::fabs(value - n.Aftertouch);
    }
    n.Aftertouch = value;
    ApplyPressure(n);
}

// While the strike lasts the key's velocity is the least pressure (controllers send a finger's
// first light pressure right after the note-on, which would cut the strike short); then the
// finger's pressure, or none for keys without any: a pressed bar is a damped bar, and a held
// key should let it ring.
void TMidiPlaying::ApplyPressure(TNote& n) {
    float p = n.Aftertouch >= 0.0f ? n.Aftertouch : 0.0f;
    if (n.Striking) {
        p = std::max(p, n.Velocity);
    }
    n.Pressure = p;
    WritePressure(n.Tone, p);
}

void TMidiPlaying::WritePressure(int tone, float value) {
    tones_.SetPressure(tone, value);
    pressureShown_ = true;
    shownPressure_ = value;
}

// A speed equal to the last one would not restart the oscillator's strike envelope, which then
// dies away while the finger still moves (or a key struck again would not strike): the same
// speed is written one step smaller.
void TMidiPlaying::WriteSpeed(int tone, float speed) {
    float& last = speeds_[static_cast<size_t>(tone)];
    float v = speed;
    if (v > 0.0f && v == last) {
        v = std::nextafter(v, 0.0f);
    }
    if (v == last) {
        return;
    }
    last = v;
    tones_.SetSpeed(tone, v);
}

void TMidiPlaying::Controller(int source, int channel, int number, int value) {
    TSource& s = sources_[static_cast<size_t>(source)];
    TChannel& c = s.Channels[static_cast<size_t>(channel)];
    switch (number) {
    case 1: // modulation wheel: a bow for every held tone
        s.Wheel = value;
        break;
    case 74: { // slide: where the finger is on the key, so where it touches the bar
        const float moved = c.Slide < 0 ? 0.0f : std::fabs(static_cast<float>(value - c.Slide));
        c.Slide = value;
        for (TNote& n : notes_) {
            if (Reaches(n, source, channel)) {
                n.Movement += moved / Full7;
                tones_.SetStrikePosition(n.Tone, static_cast<float>(value) / Full7);
            }
        }
        break;
    }
    case 64: { // sustain pedal
        const bool down = value >= 64;
        if (s.Pedal && !down) {
            const uint8_t pedal = static_cast<uint8_t>(1u << source);
            for (size_t tone = 0; tone < sustained_.size(); ++tone) {
                if ((sustained_[tone] & pedal) != 0 && holders_[tone] == 0) {
                    sustained_[tone] = static_cast<uint8_t>(sustained_[tone] & ~pedal);
                    if (sustained_[tone] == 0) {
                        Damp(static_cast<int>(tone));
                    }
                }
            }
        }
        s.Pedal = down;
        break;
    }
    case 101: // registered parameter, coarse
        c.RpnMsb = value;
        break;
    case 100: // registered parameter, fine
        c.RpnLsb = value;
        break;
    case 99: // a non-registered parameter: data entry no longer reaches a registered one
    case 98:
        c.RpnMsb = c.RpnLsb = 127;
        break;
    case 6: // data entry, coarse
        c.DataMsb = value;
        c.DataLsb = 0;
        DataEntry(source, channel);
        break;
    case 38: // data entry, fine (a bend range's cents)
        c.DataLsb = value;
        if (c.RpnLsb == 0) {
            DataEntry(source, channel);
        }
        break;
    case 121: { // reset all controllers; the bend range stays, the parameter selected goes
        const float range = c.BendRange;
        c = TChannel{};
        c.BendRange = range;
        s.Wheel = 0;
        for (TNote& n : notes_) {
            if (Reaches(n, source, channel)) {
                n.Aftertouch = -1.0f;
                ApplyPressure(n);
                if (bendPitch_) {
                    WritePitch(n.Tone, NotePitch(n));
                }
            }
        }
        break;
    }
    case 120: // all sound off
    case 123: // all notes off
    case 124: // omni off, omni on, mono, poly: all notes off as well
    case 125:
    case 126:
    case 127:
        for (TNote& n : notes_) {
            if (Reaches(n, source, channel)) {
                Release(n);
            }
        }
        break;
    default:
        break;
    }
}

void TMidiPlaying::DataEntry(int source, int channel) {
    TSource& s = sources_[static_cast<size_t>(source)];
    TChannel& c = s.Channels[static_cast<size_t>(channel)];
    if (c.RpnMsb != 0) {
        return;
    }
    if (c.RpnLsb == 6) { // the MPE Configuration Message, on a zone's manager channel
        if (mpe_ && (channel == 0 || channel == 15)) {
            ConfigureZone(s, channel, c.DataMsb);
        }
        return;
    }
    if (c.RpnLsb != 0) {
        return;
    }
    // Pitch bend sensitivity: on a member channel it is the whole zone's.
    const float range = static_cast<float>(c.DataMsb) + static_cast<float>(c.DataLsb) / 100.0f;
    const int manager = ManagerOf(s, channel);
    for (int ch = 0; ch < 16; ++ch) {
        if (ch == channel || (manager >= 0 && ManagerOf(s, ch) == manager)) {
            s.Channels[static_cast<size_t>(ch)].BendRange = range;
        }
    }
    if (bendPitch_) {
        for (TNote& n : notes_) {
            if (n.Held && n.Source == source) {
                WritePitch(n.Tone, NotePitch(n));
            }
        }
    }
}

// A zone takes the manager channel and `members` channels next to it; the other zone gives up
// what it overlaps (and ends when nothing is left of it). The zone's bend ranges go back to
// their defaults.
void TMidiPlaying::ConfigureZone(TSource& s, int manager, int members) {
    members = std::clamp(members, 0, 15);
    if (manager == 0) {
        s.LowerMembers = members;
        s.UpperMembers = members >= 15 ? 0 : std::min(s.UpperMembers, 14 - members);
    } else {
        s.UpperMembers = members;
        s.LowerMembers = members >= 15 ? 0 : std::min(s.LowerMembers, 14 - members);
    }
    for (int ch = 0; ch < 16; ++ch) {
        if (ch == manager || ManagerOf(s, ch) == manager) {
            s.Channels[static_cast<size_t>(ch)].BendRange = -1.0f;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Time

double TMidiPlaying::Tick(double seconds) {
    bool moving = false;
    bool shown = false;
    float pressure = 0.0f;
    {
        const auto lock = Lock();
        lastSeconds_ = std::max(lastSeconds_, seconds);
        pressureShown_ = false;
        // Several notes on one tone: the fastest of them drives it.
        tickSpeeds_.fill(-1.0f);
        for (TNote& n : notes_) {
            if (!n.Held) {
                continue;
            }
            float strike = 0.0f;
            if (n.Striking) {
                const double t = seconds - n.StrikeStart;
                if (t >= StrikeSeconds) {
                    n.Striking = false;
                    ApplyPressure(n);
                } else {
                    strike =
                        StrikeSpeed * static_cast<float>(1.0 - std::max(t, 0.0) / StrikeSeconds);
                }
            }
            const float wheel =
                static_cast<float>(sources_[static_cast<size_t>(n.Source)].Wheel) / Full7;
            float& speed = tickSpeeds_[static_cast<size_t>(n.Tone)];
            speed = std::max(speed, strike + n.Movement + wheel * WheelSpeed);
            n.Movement = 0.0f;
        }
        for (size_t tone = 0; tone < tickSpeeds_.size(); ++tone) {
            if (tickSpeeds_[tone] >= 0.0f) {
                WriteSpeed(static_cast<int>(tone), tickSpeeds_[tone]);
                moving = moving || tickSpeeds_[tone] > 0.0f;
            }
        }
        shown = pressureShown_;
        pressure = shownPressure_;
    }
    if (shown && OnPressure) {
        OnPressure(pressure);
    }
    return moving ? TickSeconds : -1.0;
}

void TMidiPlaying::ReleaseSource(int source) {
    if (source < 0 || source >= Sources) {
        return;
    }
    {
        const auto lock = Lock();
        pressureShown_ = false;
        for (TNote& n : notes_) {
            if (n.Held && n.Source == source) {
                Release(n);
            }
        }
        sources_[static_cast<size_t>(source)] = TSource{};
        // Its pedal is gone too: what it held rings on.
        for (uint8_t& held : sustained_) {
            held = static_cast<uint8_t>(held & ~(1u << source));
        }
        if (!pressureShown_) {
            return;
        }
    }
    if (OnPressure) {
        OnPressure(0.0f);
    }
}

void TMidiPlaying::ReleaseAll() {
    for (int s = 0; s < Sources; ++s) {
        ReleaseSource(s);
    }
}

} // namespace varko
