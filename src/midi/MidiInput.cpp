#include "midi/MidiInput.h"

#include "core/RealTime.h"

#include <RtMidi.h>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <regex>

namespace varko {

namespace {

constexpr size_t QueueSize = 1024;       // messages a source may have waiting
constexpr double PortCheckSeconds = 0.5; // how often vanished ports are looked for
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

// One back end (ALSA or JACK): a client that lists ports, and the virtual port.
struct TMidiInput::TBackEnd {
    int Api = 0;
    const char* Label = "";
    std::unique_ptr<RtMidiIn> Lister;
    std::unique_ptr<RtMidiIn> Virtual;
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
    stop_.store(true);
    if (!wakePending_.exchange(true)) {
        wake_.release();
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
    if (!q->Owner->wakePending_.exchange(true)) {
        q->Owner->wake_.release();
    }
}

std::vector<std::string> TMidiInput::Start() {
    snd_lib_error_set_handler(&QuietAlsa);
    std::vector<std::string> opened;
    {
        std::lock_guard lock(portsMutex_);
        std::vector<RtMidi::Api> compiled;
        RtMidi::getCompiledApi(compiled);
        const std::pair<RtMidi::Api, TMidiSource> wanted[] = {
            {RtMidi::LINUX_ALSA, TMidiSource::VirtualAlsa},
            {RtMidi::UNIX_JACK, TMidiSource::VirtualJack}};
        for (const auto& [api, source] : wanted) {
            if (std::find(compiled.begin(), compiled.end(), api) == compiled.end() ||
                (api == RtMidi::LINUX_ALSA && !AlsaSequencerRuns())) {
                continue;
            }
            auto backEnd = std::make_unique<TBackEnd>();
            backEnd->Api = api;
            backEnd->Label = api == RtMidi::LINUX_ALSA ? AlsaLabel : JackLabel;
            backEnd->Lister = MakeIn(api, clientName_ + " ports");
            if (!backEnd->Lister) {
                continue;
            }
            backEnd->Virtual = MakeIn(api, clientName_);
            if (backEnd->Virtual) {
                TSourceQueue& q = *queues_[static_cast<int>(source)];
                backEnd->Virtual->setCallback(&TMidiInput::Callback, &q);
                bool failed = false;
                backEnd->Virtual->setErrorCallback(
                    [](RtMidiError::Type type, const std::string&, void* f) {
                        if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) {
                            *static_cast<bool*>(f) = true;
                        }
                    },
                    &failed);
                backEnd->Virtual->openVirtualPort(clientName_);
                backEnd->Virtual->setErrorCallback(
                    [](RtMidiError::Type, const std::string&, void*) {}, nullptr);
                if (failed) {
                    backEnd->Virtual.reset();
                } else {
                    opened.push_back(backEnd->Label + clientName_);
                }
            }
            backEnds_.push_back(std::move(backEnd));
        }
    }
    seenPorts_ = Ports(true);
    thread_ = std::thread([this] { Run(); });
    return opened;
}

std::vector<std::string> TMidiInput::Ports() {
    return Ports(false);
}

std::vector<std::string> TMidiInput::Ports(bool inUseOnly) {
    std::lock_guard lock(portsMutex_);
    std::vector<std::string> names;
    for (const auto& b : backEnds_) {
        // Asking a back end that is not running (JACK without a server) costs a connection
        // attempt each time; it is asked only when the player lists the ports.
        if (inUseOnly && !b->Virtual && portName_.rfind(b->Label, 0) != 0) {
            continue;
        }
        const unsigned count = b->Lister->getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            const std::string name = b->Lister->getPortName(i);
            if (!name.empty()) {
                names.push_back(b->Label + name);
            }
        }
    }
    return names;
}

bool TMidiInput::OpenPort(const std::string& name) {
    std::lock_guard lock(portsMutex_);
    port_.reset(); // its callback thread ends here
    portName_.clear();
    portLost_ = false;
    TSourceQueue& q = *queues_[static_cast<int>(TMidiSource::Port)];
    q.Parser.Reset();
    if (name.empty()) {
        return false;
    }
    for (const auto& b : backEnds_) {
        const std::string label = b->Label;
        if (name.rfind(label, 0) != 0) {
            continue;
        }
        const std::string wanted = name.substr(label.size());
        const unsigned count = b->Lister->getPortCount();
        int found = -1;
        for (unsigned i = 0; i < count && found < 0; ++i) {
            if (b->Lister->getPortName(i) == wanted) {
                found = static_cast<int>(i);
            }
        }
        for (unsigned i = 0; i < count && found < 0 && b->Api == RtMidi::LINUX_ALSA; ++i) {
            if (WithoutAlsaNumbers(b->Lister->getPortName(i)) == WithoutAlsaNumbers(wanted)) {
                found = static_cast<int>(i);
            }
        }
        if (found < 0) {
            return false;
        }
        auto in = MakeIn(b->Api, clientName_ + " input");
        if (!in) {
            return false;
        }
        in->setCallback(&TMidiInput::Callback, &q);
        in->openPort(static_cast<unsigned>(found), clientName_ + " input");
        if (!in->isPortOpen()) {
            return false;
        }
        port_ = std::move(in);
        portName_ = label + b->Lister->getPortName(static_cast<unsigned>(found));
        return true;
    }
    return false;
}

std::string TMidiInput::OpenPortName() const {
    std::lock_guard lock(portsMutex_);
    return portName_;
}

void TMidiInput::Drain() {
    for (auto& q : queues_) {
        TSourceQueue::TEntry e;
        while (q->Pop(e)) {
            if (OnMessage) {
                OnMessage(q->Source, e.Message, e.Seconds);
            }
        }
        if (q->Overflowed.exchange(false, std::memory_order_relaxed) && OnSourceLost) {
            OnSourceLost(q->Source);
        }
    }
}

// A source whose sender has gone cannot send its note-offs: its notes are released. For the
// virtual ports the sender is not known, so any port that went away counts.
void TMidiInput::CheckPorts() {
    const std::vector<std::string> now = Ports(/*inUseOnly=*/true);
    bool portGone = false;
    std::array<bool, MidiSourceCount> lost{};
    {
        std::lock_guard lock(portsMutex_);
        if (port_ && !portLost_ && std::find(now.begin(), now.end(), portName_) == now.end()) {
            portLost_ = portGone = true;
        }
        for (const std::string& old : seenPorts_) {
            if (std::find(now.begin(), now.end(), old) != now.end()) {
                continue;
            }
            for (const auto& b : backEnds_) {
                if (b->Virtual && old.rfind(b->Label, 0) == 0) {
                    lost[static_cast<int>(b->Api == RtMidi::LINUX_ALSA
                                              ? TMidiSource::VirtualAlsa
                                              : TMidiSource::VirtualJack)] = true;
                }
            }
        }
    }
    seenPorts_ = now;
    lost[static_cast<int>(TMidiSource::Port)] = portGone;
    for (int s = 0; s < MidiSourceCount; ++s) {
        if (lost[s] && OnSourceLost) {
            OnSourceLost(static_cast<TMidiSource>(s));
        }
    }
}

void TMidiInput::Run() {
    NameThisThread("Varko-MIDI");
    double nextCheck = Now() + PortCheckSeconds;
    double nextTick = -1.0;
    while (!stop_.load()) {
        double wakeAt = nextCheck;
        if (nextTick >= 0.0) {
            wakeAt = std::min(wakeAt, nextTick);
        }
        const auto wait =
            std::chrono::microseconds(static_cast<int64_t>(std::max(0.0, wakeAt - Now()) * 1e6));
        if (wake_.try_acquire_for(wait)) {
            // Only after a taken wake-up, so that the semaphore never holds two.
            wakePending_.exchange(false);
        }
        if (stop_.load()) {
            break;
        }
        Drain();
        const double now = Now();
        if (OnTick) {
            const double next = OnTick(now);
            nextTick = next >= 0.0 ? now + next : -1.0;
        }
        if (now >= nextCheck) {
            CheckPorts();
            nextCheck = Now() + PortCheckSeconds;
        }
    }
}

} // namespace varko
