// MIDI input from the system's ports through RtMidi (ALSA sequencer and JACK MIDI): one port
// the player chooses, and Varko's own inputs, which other programs connect to: a virtual port
// "Varko" on the ALSA sequencer, and on JACK the port "midi_in" of Varko's audio client (while
// the audio runs on JACK), read in the audio's own callback with the frame of each message.
// Messages reach the owner on an input thread of this class, never on a device's callback
// thread (JACK's is a real-time one), so the owner may take a short lock. The ports are
// watched on a second thread: asking the servers for them takes milliseconds, and a note
// waiting behind that would miss its audio period.
#pragma once

#include "midi/MidiMessage.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class RtMidiIn;

namespace varko {

// Where a message came from: each source keeps its own running status and its own notes.
enum class TMidiSource : int { Port = 0, VirtualAlsa = 1, VirtualJack = 2 };
inline constexpr int MidiSourceCount = 3;

class TMidiInput {
public:
    // clientName names Varko's clients and its virtual ports.
    explicit TMidiInput(std::string clientName = "Varko");
    // Closes every port and ends the input thread; no callback runs once it returns.
    ~TMidiInput();
    TMidiInput(const TMidiInput&) = delete;
    TMidiInput& operator=(const TMidiInput&) = delete;

    // What the owner hears, all on the input thread.
    // A complete channel message from a source, with the steady-clock time it arrived (seconds);
    // for Varko's JACK input, the time of its frame in the audio's block.
    std::function<void(TMidiSource, const TMidiMessage&, double seconds)> OnMessage;
    // Called when asked for: returns the seconds until it wants to be called again, or a
    // negative number when it wants no call until the next message.
    std::function<double(double seconds)> OnTick;
    // A source may have lost notes: the chosen port disappeared or was changed, a program that
    // could have played through a virtual port went away, or messages came faster than they
    // were taken. Set the three before Start.
    std::function<void(TMidiSource)> OnSourceLost;

    // Starts the input thread and opens the virtual ports where their back ends run. Returns
    // the names of Varko's inputs that are there ("ALSA: Varko"; "JACK: Varko:midi_in" while
    // the audio runs on JACK).
    std::vector<std::string> Start();

    // The input ports of every back end, "ALSA: <port>" and "JACK: <port>"; Varko's own virtual
    // ports are inputs and so not among them.
    std::vector<std::string> Ports();
    // Opens the port of that name (an ALSA port whose client numbers changed is found by its
    // name alone); an empty name closes the port. Returns whether a port is open.
    bool OpenPort(const std::string& name);
    std::string OpenPortName() const;

    // Seconds on the clock that OnMessage and OnTick report.
    double Now() const;
    // Something wants OnTick soon (a strike started outside a message): wakes the thread.
    void RequestTick() { Wake(); }

    // Messages dropped because the owner did not take them in time (each also reported as a
    // lost source).
    uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

    // Whether any MIDI back end (the ALSA sequencer, a JACK server) answers now.
    bool Reachable() const;
    // Whether Varko's JACK input is there (the audio runs on JACK).
    static bool JackInputOpen();

private:
    struct TSourceQueue;
    struct TBackEnd;

    std::vector<std::string> Ports(bool reconnect);
    bool Connect(TBackEnd& backEnd);
    void Wake();
    void Run();
    void Drain();
    // The ports thread: CheckPorts every PortCheckSeconds until the input stops.
    void WatchPorts();
    // Returns the sources that may have lost notes; the input thread tells the owner.
    unsigned CheckPorts();
    void DrainFeed();
    // Ports thread: notes the connections of Varko's JACK ports, and makes them again when
    // those ports come back (a server restart, the audio reopened).
    void KeepJackConnections();
    std::unique_ptr<RtMidiIn> MakeIn(int api, const std::string& client);
    static void Callback(double, std::vector<unsigned char>* message, void* user);

    const std::string clientName_;
    std::array<std::unique_ptr<TSourceQueue>, MidiSourceCount> queues_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<bool> jackGone_{false}; // the JACK server went away
    // Written by the ports thread, taken by the input thread: a bit per source that lost notes.
    std::atomic<unsigned> lostSources_{0};

    mutable std::mutex portsMutex_; // the RtMidi objects below
    std::vector<std::unique_ptr<TBackEnd>> backEnds_;
    std::unique_ptr<RtMidiIn> port_;
    std::string portName_;
    std::vector<std::string> seenPorts_; // the ports at the last check
    bool portLost_ = false;
    // The ports thread's: Varko's JACK ports' connections (our port's short name, the other
    // end), and the ids of those ports at the last check.
    std::vector<std::pair<std::string, std::string>> jackConnections_;
    std::vector<uint64_t> jackPortsSeen_;
    double jackRetryAt_ = 0.0; // no new JACK client before this time (Now())
    std::vector<std::pair<std::string, std::string>> jackPending_; // to make again
    TMidiStreamParser feedParser_;

    std::thread thread_;
    std::mutex watchMutex_; // with watchWake_: the ports thread's sleep, cut short by a stop
    std::condition_variable watchWake_;
    std::thread watchThread_;
};

} // namespace varko
