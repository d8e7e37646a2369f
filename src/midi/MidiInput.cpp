#include "midi/MidiInput.h"

#include "core/MidiFeed.h"
#include "core/RealTime.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <regex>

namespace varko {

namespace {

constexpr size_t QueueSize = 1024;       // messages a source may have waiting
constexpr double PortCheckSeconds = 0.5; // how often vanished ports are looked for
constexpr double JackRetrySeconds = 3.0; // quiet after a JACK server went away
constexpr const char* AlsaLabel = "ALSA: ";
constexpr const char* JackLabel = "JACK: ";

// ALSA reports on stderr that it has no sequencer; a machine without one is no news here.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// RtMidi says on stderr when it finds no sequencer; asking first keeps that quiet.
bool AlsaSequencerRuns() {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, 0) < 0) {
        return false;
    }
    snd_seq_close(seq);
    return true;
}

// libjack says on stderr when it finds no server; looking for one now and then is no news.
void QuietJack(const char*) {}

// ALSA port names end in the client and port numbers ("Keystation:Keystation MIDI 1 20:0"),
// which change when a device is plugged in again.
std::string WithoutAlsaNumbers(const std::string& name) {
    static const std::regex numbers(R"( \d+:\d+$)");
    return std::regex_replace(name, numbers, "");
}

} // namespace

// One source's messages on their way from its callback thread to the input thread: a
// single-producer, single-consumer ring that never blocks the producer.
struct TMidiInput::TSourceQueue {
    struct TEntry {
        TMidiMessage Message;
        double Seconds = 0.0;
    };
    TMidiInput* Owner = nullptr;
    TMidiSource Source = TMidiSource::Port;
    TMidiStreamParser Parser; // the callback thread's alone
    std::array<TEntry, QueueSize> Entries{};
    std::atomic<size_t> Write{0}, Read{0};
    std::atomic<bool> Overflowed{false};
    // The sender changed: its notes are released once Read reaches this (-1: none).
    std::atomic<int64_t> ReleaseAt{-1};

    void Push(const TMidiMessage& m, double seconds) {
        const size_t w = Write.load(std::memory_order_relaxed);
        if (w - Read.load(std::memory_order_acquire) >= QueueSize) {
            Overflowed.store(true, std::memory_order_relaxed);
            Owner->dropped_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        Entries[w % QueueSize] = {m, seconds};
        Write.store(w + 1, std::memory_order_release);
    }
    bool Pop(TEntry& e) {
        const size_t r = Read.load(std::memory_order_relaxed);
        if (r == Write.load(std::memory_order_acquire)) {
            return false;
        }
        e = Entries[r % QueueSize];
        Read.store(r + 1, std::memory_order_release);
        return true;
    }
};

// One back end (ALSA or JACK) and, on ALSA, Varko's virtual port. ALSA's ports are listed by an
// RtMidi client; JACK's by a client of our own, which also hears when the server goes away
// (its ports then vanish without the port list ever saying so) and keeps the connections of
// Varko's own JACK ports.
struct TMidiInput::TBackEnd {
    int Api = 0;
    const char* Label = "";
    TMidiSource VirtualSource = TMidiSource::VirtualAlsa;
    std::unique_ptr<RtMidiIn> Lister; // ALSA
    jack_client_t* Jack = nullptr;    // JACK, null while no server runs
    std::unique_ptr<RtMidiIn> Virtual;

    ~TBackEnd() { Disconnect(); }
    void Disconnect() {
        Virtual.reset();
        if (Jack != nullptr) {
            jack_client_close(Jack);
            Jack = nullptr;
        }
    }
    bool Running() const { return Lister != nullptr || Jack != nullptr; }
};

TMidiInput::TMidiInput(std::string clientName) : clientName_(std::move(clientName)) {
    for (int s = 0; s < MidiSourceCount; ++s) {
        queues_[s] = std::make_unique<TSourceQueue>();
        queues_[s]->Owner = this;
        queues_[s]->Source = static_cast<TMidiSource>(s);
    }
}

TMidiInput::~TMidiInput() {
    {
        // Closing the ports first ends every callback thread.
        std::lock_guard lock(portsMutex_);
        port_.reset();
        backEnds_.clear();
    }
    {
        // Under the watch's mutex: a ports thread about to sleep sees the stop.
        std::lock_guard lock(watchMutex_);
        stop_.store(true);
    }
    watchWake_.notify_all();
    Wake();
    if (watchThread_.joinable()) {
        watchThread_.join();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

double TMidiInput::Now() const {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<RtMidiIn> TMidiInput::MakeIn(int api, const std::string& client) {
    try {
        auto in = std::make_unique<RtMidiIn>(static_cast<RtMidi::Api>(api), client,
                                             static_cast<unsigned>(QueueSize));
        // Errors come here instead of as exceptions or lines on stderr; the calls' results say
        // what worked.
        in->setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
        // System exclusive is let through so that the parser sees where one ends; clock and
        // active sensing are of no use here.
        in->ignoreTypes(false, true, true);
        return in;
    } catch (const RtMidiError&) {
        return nullptr; // the back end does not run on this machine
    }
}

void TMidiInput::Callback(double, std::vector<unsigned char>* message, void* user) {
    auto* q = static_cast<TSourceQueue*>(user);
    if (message == nullptr || message->empty()) {
        return;
    }
    const double now = q->Owner->Now();
    q->Parser.Feed(message->data(), message->size(),
                   [&](const TMidiMessage& m) { q->Push(m, now); });
    q->Owner->Wake();
}

std::vector<std::string> TMidiInput::Start() {
    snd_lib_error_set_handler(&QuietAlsa);
    std::vector<std::string> opened;
    {
        std::lock_guard lock(portsMutex_);
        std::vector<RtMidi::Api> compiled;
        RtMidi::getCompiledApi(compiled);
        for (const RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
            if (std::find(compiled.begin(), compiled.end(), api) == compiled.end()) {
                continue;
            }
            auto backEnd = std::make_unique<TBackEnd>();
            backEnd->Api = api;
            backEnd->Label = api == RtMidi::LINUX_ALSA ? AlsaLabel : JackLabel;
            backEnd->VirtualSource =
                api == RtMidi::LINUX_ALSA ? TMidiSource::VirtualAlsa : TMidiSource::VirtualJack;
            if (Connect(*backEnd) && api == RtMidi::LINUX_ALSA) {
                opened.push_back(backEnd->Label + clientName_);
            }
            backEnds_.push_back(std::move(backEnd));
        }
    }
    // What came while no input listened is not played now.
    for (TFedMidi stale; TMidiFeed::Instance().Pop(stale);) {
    }
    if (JackInputOpen()) {
        opened.push_back(std::string(JackLabel) + clientName_ + ":midi_in");
    }
    seenPorts_ = Ports(false);
    thread_ = std::thread([this] { Run(); });
    watchThread_ = std::thread([this] { WatchPorts(); });
    return opened;
}

// Reaches the back end's server and opens the virtual port there (ALSA); returns whether the
// back end's input is there. Caller holds portsMutex_.
bool TMidiInput::Connect(TBackEnd& b) {
    b.Disconnect();
    b.Lister.reset();
    if (b.Api == RtMidi::LINUX_ALSA) {
        if (!AlsaSequencerRuns()) {
            return false;
        }
        b.Lister = MakeIn(b.Api, clientName_ + " ports");
    } else {
        jack_set_error_function(&QuietJack);
        jack_set_info_function(&QuietJack);
        jack_status_t status{};
        b.Jack = jack_client_open((clientName_ + " ports").c_str(), JackNoStartServer, &status);
        if (b.Jack == nullptr) {
            return false;
        }
        jack_on_info_shutdown(
            b.Jack,
            [](jack_status_t, const char*, void* self) {
                auto* input = static_cast<TMidiInput*>(self);
                input->jackGone_.store(true);
                // Without the mutex (not on this thread): a wake-up missed waits for the timer.
                input->watchWake_.notify_all();
            },
            this);
        jack_activate(b.Jack);
        // Varko's JACK input is on the audio's client, not a client of RtMidi's: one client
        // "Varko", its messages read at their frames.
        return true;
    }
    if (!b.Running()) {
        return false;
    }
    b.Virtual = MakeIn(b.Api, clientName_);
    if (!b.Virtual) {
        return false;
    }
    b.Virtual->setCallback(&TMidiInput::Callback,
                           queues_[static_cast<size_t>(b.VirtualSource)].get());
    bool failed = false;
    b.Virtual->setErrorCallback(
        [](RtMidiError::Type type, const std::string&, void* f) {
            if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) {
                *static_cast<bool*>(f) = true;
            }
        },
        &failed);
    b.Virtual->openVirtualPort(clientName_);
    b.Virtual->setErrorCallback([](RtMidiError::Type, const std::string&, void*) {}, nullptr);
    if (failed) {
        b.Virtual.reset();
    }
    return b.Virtual != nullptr;
}

void TMidiInput::Wake() {
    TMidiFeed::Instance().Signal();
}

bool TMidiInput::JackInputOpen() {
    return TMidiFeed::Instance().Carried.load();
}

bool TMidiInput::Reachable() const {
    std::lock_guard lock(portsMutex_);
    return std::any_of(backEnds_.begin(), backEnds_.end(),
                       [](const auto& b) { return b->Running(); });
}

std::vector<std::string> TMidiInput::Ports() {
    return Ports(true);
}

std::vector<std::string> TMidiInput::Ports(bool reconnect) {
    std::lock_guard lock(portsMutex_);
    std::vector<std::string> names;
    for (const auto& b : backEnds_) {
        // A server started after Varko is looked for when the player asks for the ports (a
        // connection attempt each time would be too much for the periodic check).
        if (!b->Running() && reconnect) {
            Connect(*b);
        }
        if (b->Lister) {
            const unsigned count = b->Lister->getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                const std::string name = b->Lister->getPortName(i);
                if (!name.empty()) {
                    names.push_back(b->Label + name);
                }
            }
        } else if (b->Jack != nullptr) {
            if (const char** ports =
                    jack_get_ports(b->Jack, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
                for (const char** q = ports; *q != nullptr; ++q) {
                    names.push_back(std::string(b->Label) + *q);
                }
                jack_free(ports);
            }
        }
    }
    return names;
}

bool TMidiInput::OpenPort(const std::string& name) {
    std::lock_guard lock(portsMutex_);
    TSourceQueue& q = *queues_[static_cast<size_t>(TMidiSource::Port)];
    if (port_) {
        port_.reset(); // its callback thread ends here
        // The old port's notes are released once its last messages are taken, before any of
        // the new port's.
        q.ReleaseAt.store(static_cast<int64_t>(q.Write.load(std::memory_order_acquire)));
        Wake();
    }
    portName_.clear();
    portLost_ = false;
    q.Parser.Reset();
    if (name.empty()) {
        return false;
    }
    for (const auto& b : backEnds_) {
        const std::string label = b->Label;
        if (name.rfind(label, 0) != 0 || !b->Running()) {
            continue;
        }
        auto in = MakeIn(b->Api, clientName_ + " input");
        if (!in) {
            return false;
        }
        // RtMidi opens a port by its place in its own list.
        const std::string wanted = name.substr(label.size());
        const unsigned count = in->getPortCount();
        int found = -1;
        for (unsigned i = 0; i < count && found < 0; ++i) {
            if (in->getPortName(i) == wanted) {
                found = static_cast<int>(i);
            }
        }
        for (unsigned i = 0; i < count && found < 0 && b->Api == RtMidi::LINUX_ALSA; ++i) {
            if (WithoutAlsaNumbers(in->getPortName(i)) == WithoutAlsaNumbers(wanted)) {
                found = static_cast<int>(i);
            }
        }
        if (found < 0) {
            return false;
        }
        in->setCallback(&TMidiInput::Callback, &q);
        in->openPort(static_cast<unsigned>(found), clientName_ + " input");
        if (!in->isPortOpen()) {
            return false;
        }
        portName_ = label + in->getPortName(static_cast<unsigned>(found));
        port_ = std::move(in);
        return true;
    }
    return false;
}

std::string TMidiInput::OpenPortName() const {
    std::lock_guard lock(portsMutex_);
    return port_ ? portName_ : std::string();
}

void TMidiInput::DrainFeed() {
    TSourceQueue& q = *queues_[static_cast<size_t>(TMidiSource::VirtualJack)];
    TFedMidi m;
    while (TMidiFeed::Instance().Pop(m)) {
        // Through a parser, as the other sources: it keeps out what is not a channel message,
        // and a sender's running status holds across its messages.
        feedParser_.Feed(m.Bytes, m.Size, [&](const TMidiMessage& message) {
            if (OnMessage) {
                OnMessage(q.Source, message, m.Seconds);
            }
        });
    }
}

void TMidiInput::Drain() {
    DrainFeed();
    for (auto& q : queues_) {
        auto releaseDue = [&] {
            const int64_t at = q->ReleaseAt.load();
            if (at >= 0 && static_cast<int64_t>(q->Read.load(std::memory_order_relaxed)) >= at) {
                q->ReleaseAt.store(-1);
                if (OnSourceLost) {
                    OnSourceLost(q->Source);
                }
            }
        };
        TSourceQueue::TEntry e;
        releaseDue();
        while (q->Pop(e)) {
            if (OnMessage) {
                OnMessage(q->Source, e.Message, e.Seconds);
            }
            releaseDue();
        }
        if (q->Overflowed.exchange(false, std::memory_order_relaxed) && OnSourceLost) {
            OnSourceLost(q->Source);
        }
    }
}

// A source whose sender has gone cannot send its note-offs: its notes are released. For the
// virtual ports the sender is not known, so any port that went away counts.
unsigned TMidiInput::CheckPorts() {
    std::array<bool, MidiSourceCount> lost{};
    if (jackGone_.exchange(false)) {
        jackRetryAt_ = Now() + JackRetrySeconds;
        // The server went away with every port on it; its clients are closed (they cannot be
        // used again) and looked for anew a little later, or when the player lists the ports.
        std::lock_guard lock(portsMutex_);
        for (const auto& b : backEnds_) {
            if (b->Api != RtMidi::UNIX_JACK) {
                continue;
            }
            // Varko's JACK input went with the server, and with it what its senders held.
            lost[static_cast<size_t>(b->VirtualSource)] = true;
            if (port_ && portName_.rfind(b->Label, 0) == 0) {
                port_.reset();
                portLost_ = true;
                lost[static_cast<size_t>(TMidiSource::Port)] = true;
            }
            b->Disconnect();
        }
    }
    if (Now() >= jackRetryAt_) {
        // A server that came back is looked for here too: the connections want making again.
        // Not at once after one went: libjack must first be done closing the clients it had.
        std::lock_guard lock(portsMutex_);
        for (const auto& b : backEnds_) {
            if (b->Api == RtMidi::UNIX_JACK && !b->Running()) {
                Connect(*b);
            }
        }
    }
    KeepJackConnections();
    const std::vector<std::string> now = Ports(false);
    {
        std::lock_guard lock(portsMutex_);
        if (port_ && !portLost_ && std::find(now.begin(), now.end(), portName_) == now.end()) {
            portLost_ = true;
            lost[static_cast<size_t>(TMidiSource::Port)] = true;
        }
        for (const std::string& old : seenPorts_) {
            if (std::find(now.begin(), now.end(), old) != now.end()) {
                continue;
            }
            for (const auto& b : backEnds_) {
                if ((b->Virtual || b->Jack != nullptr) && old.rfind(b->Label, 0) == 0) {
                    lost[static_cast<size_t>(b->VirtualSource)] = true;
                }
            }
        }
    }
    seenPorts_ = now;
    // The chosen port came back (its device plugged in again, its server restarted): opened
    // again, as the player left it.
    std::string back;
    {
        std::lock_guard lock(portsMutex_);
        // An ALSA port plugged in again may have other client numbers.
        const std::string wanted = WithoutAlsaNumbers(portName_);
        for (const std::string& p : now) {
            if (portLost_ && !portName_.empty() && WithoutAlsaNumbers(p) == wanted) {
                back = p;
            }
        }
    }
    if (!back.empty()) {
        OpenPort(back);
    }
    unsigned bits = 0;
    for (size_t s = 0; s < lost.size(); ++s) {
        bits |= lost[s] ? 1u << s : 0u;
    }
    return bits;
}

void TMidiInput::KeepJackConnections() {
    std::lock_guard lock(portsMutex_);
    jack_client_t* jack = nullptr;
    for (const auto& b : backEnds_) {
        if (b->Api == RtMidi::UNIX_JACK && b->Jack != nullptr) {
            jack = b->Jack;
        }
    }
    if (jack == nullptr) {
        jackPortsSeen_.clear();
        return;
    }
    const std::string prefix = clientName_ + ":";
    std::string pattern = "^";
    for (const char c : prefix) {
        if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) {
            pattern += '\\';
        }
        pattern += c;
    }
    const char** ours = jack_get_ports(jack, pattern.c_str(), nullptr, 0);
    if (ours == nullptr) {
        jackPortsSeen_.clear();
        return;
    }
    // Ports registered anew (a server restart, the audio reopened) have other ids, however
    // quickly they came back.
    std::vector<uint64_t> ids;
    for (const char** name = ours; *name != nullptr; ++name) {
        if (jack_port_t* p = jack_port_by_name(jack, *name)) {
            ids.push_back(jack_port_uuid(p));
        }
    }
    if (ids != jackPortsSeen_) {
        // What they had is to be made again, each connection once its other end is there too.
        jackPending_ = jackConnections_;
        jackPortsSeen_ = ids;
    }
    std::erase_if(jackPending_, [&](const std::pair<std::string, std::string>& c) {
        const std::string full = prefix + c.first;
        jack_port_t* p = jack_port_by_name(jack, full.c_str());
        if (p == nullptr || jack_port_by_name(jack, c.second.c_str()) == nullptr) {
            return false;
        }
        // One that exists already (RtAudio connects the outputs to the device) is refused.
        if ((jack_port_flags(p) & JackPortIsOutput) != 0) {
            jack_connect(jack, full.c_str(), c.second.c_str());
        } else {
            jack_connect(jack, c.second.c_str(), full.c_str());
        }
        return true;
    });
    // Those still waiting for their other end are kept in mind too.
    std::vector<std::pair<std::string, std::string>> now = jackPending_;
    for (const char** name = ours; *name != nullptr; ++name) {
        jack_port_t* p = jack_port_by_name(jack, *name);
        const char** peers = p != nullptr ? jack_port_get_all_connections(jack, p) : nullptr;
        for (const char** q = peers; q != nullptr && *q != nullptr; ++q) {
            now.emplace_back(std::string(*name).substr(prefix.size()), *q);
        }
        if (peers != nullptr) {
            jack_free(peers);
        }
    }
    jack_free(ours);
    jackConnections_ = std::move(now);
}

void TMidiInput::Run() {
    NameThisThread("Varko-MIDI");
    // A note waits for this thread before it reaches the tones: on a busy machine an ordinary
    // thread may miss the next audio period.
    RaiseToRealTimePriority();
    double nextTick = -1.0;
    while (!stop_.load()) {
        // Nothing to do until a message, a tick, a lost source or the stop wakes it.
        const double wakeAt = nextTick >= 0.0 ? nextTick : Now() + 1.0;
        const auto wait =
            std::chrono::microseconds(static_cast<int64_t>(std::max(0.0, wakeAt - Now()) * 1e6));
        TMidiFeed& feed = TMidiFeed::Instance();
        if (feed.Wake.try_acquire_for(wait)) {
            // Only after a taken wake-up, so that the semaphore never holds two.
            feed.Woken();
        }
        if (stop_.load()) {
            break;
        }
        Drain();
        // After the messages that came before the loss was seen.
        const unsigned lost = lostSources_.exchange(0);
        for (int s = 0; s < MidiSourceCount; ++s) {
            if ((lost & (1u << s)) != 0 && OnSourceLost) {
                OnSourceLost(static_cast<TMidiSource>(s));
            }
        }
        const double now = Now();
        if (OnTick) {
            const double next = OnTick(now);
            nextTick = next >= 0.0 ? now + next : -1.0;
        }
    }
}

void TMidiInput::WatchPorts() {
    NameThisThread("Varko-MIDI-ports");
    std::unique_lock lock(watchMutex_);
    for (;;) {
        watchWake_.wait_for(lock, std::chrono::duration<double>(PortCheckSeconds),
                            [this] { return stop_.load() || jackGone_.load(); });
        if (stop_.load()) {
            break;
        }
        lock.unlock();
        if (const unsigned lost = CheckPorts(); lost != 0) {
            lostSources_.fetch_or(lost);
            Wake();
        }
        lock.lock();
    }
}

} // namespace varko
