// MIDI end to end: a JACK server of the test's own, the instrument playing into it through the
// JACK driver, Varko's MIDI input as the window opens it, and a test client that plays notes
// into Varko's ports and records what reaches the server's playback ports. The same through
// the ALSA sequencer where the machine has one.
#include "JackMidiClient.h"
#include "Signal.h"
#include "audio/AsioHost.h"
#include "audio/JackServer.h"
#include "instrument/Instrument.h"
#include "midi/MidiInput.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <numbers>
#include <set>
#include <thread>

namespace varko::test {
namespace {

constexpr unsigned Rate = 48000;
constexpr unsigned Period = 256;
constexpr double Low = 200.0;                        // note 60: the scale's 1/1, tone 0
const double High = 200.0 * std::pow(2.0, 7 / 12.0); // note 67, tone 7
const std::string Scale = std::string(VARKO_EXAMPLES_DIR) + "/scales/12-equal.scl";
const std::string VarkoPort = "^Varko:midi_in$"; // Varko's JACK input, on its audio client

using Messages = std::vector<std::vector<uint8_t>>;

// Magnitude at f over n frames from `from`, Hann-windowed.
double Magnitude(const std::vector<float>& x, size_t from, size_t n, double f) {
    return std::sqrt(test::Power(x, from, n, f, Rate));
}

double Rms(const std::vector<float>& x, size_t from, size_t n) {
    double s = 0;
    for (size_t i = from; i < from + n; ++i) {
        s += double{x.at(i)} * x.at(i);
    }
    return std::sqrt(s / static_cast<double>(n));
}

// The bar's own delay: its wave leaves the delay line one period of the tone after it entered,
// and the strike envelope's first sample is 0.
long WaveDelay(int note) {
    return std::lround(Rate / (Low * std::pow(2.0, (note - 60) / 12.0))) + 1;
}

// The latest onset allowed: the bar excited three periods after the note-on (two that Varko
// takes, whatever the note's frame, and one of the keyboard's recording in JACK's graph), and
// heard a wave's round trip later; the note's frame reaches the tones through the clock, to
// within a millisecond.
long ExcitedWithin(int note) {
    return 3 * static_cast<long>(Period) + WaveDelay(note) + static_cast<long>(Rate / 1000);
}

class MidiEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(Bring(Period)); }
    // The server at that period, the instrument playing on it, the MIDI input open.
    void Bring(unsigned period) {
        server_ =
            std::make_unique<TJackServer>("varko_midi_" + std::to_string(getpid()), Rate, period);
        ASSERT_TRUE(server_->Start()) << "jackd did not start";
        ASSERT_NO_FATAL_FAILURE(Attach());
    }
    // The instrument on the JACK driver and the MIDI input, as the window starts them.
    void Attach() {
        instrument_.AttachHost(std::make_unique<TASIOHost>(), [this](std::function<void()> job) {
            std::lock_guard lock(queueMutex_);
            queue_.push_back(std::move(job));
        });
        const auto& list = instrument_.Audio().DriverList();
        const auto jack = std::find(list.begin(), list.end(), "JACK: system");
        ASSERT_NE(jack, list.end()) << "no JACK driver listed";
        instrument_.Audio().SelectDriver(static_cast<int>(jack - list.begin()));
        ASSERT_TRUE(instrument_.Audio().Running());
        // The fundamental alone, so that each note is one peak; seeded noise.
        instrument_.Bank().SetModeLimit(1);
        instrument_.Bank().SetSeed(1);
        instrument_.OpenScale(Scale);
        ASSERT_EQ(instrument_.Audio().Engine().Oscillators.size(), 13u);

        TMidiPlaying& midi = instrument_.Midi();
        input_ = std::make_unique<TMidiInput>("Varko");
        // As the window plays it.
        input_->OnMessage = [this](TMidiSource s, const TMidiMessage& m, double t) {
            if (s == TMidiSource::VirtualJack) {
                longestWait_.store(std::max(longestWait_.load(), input_->Now() - t));
            }
            instrument_.PlayMidiInput(static_cast<int>(s), m.Bytes.data(), m.Size, t);
        };
        input_->OnTick = [this](double t) { return instrument_.TickMidiInput(t); };
        input_->OnSourceLost = [&midi](TMidiSource s) { midi.ReleaseSource(static_cast<int>(s)); };
        opened_ = input_->Start();
    }
    // As the window closes.
    void Detach() {
        input_.reset();
        instrument_.ReleaseEngine();
    }
    void TearDown() override {
        // The input first (nothing plays after it), then the engine, then the server.
        keys_.reset();
        Detach();
        if (server_) {
            server_->Stop();
        }
    }

    // Runs the jobs the host posts for this (the owner's) thread while waiting for cond.
    bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            std::deque<std::function<void()>> jobs;
            {
                std::lock_guard lock(queueMutex_);
                jobs.swap(queue_);
            }
            for (auto& job : jobs) {
                job();
            }
            if (cond()) {
                return true;
            }
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // The keyboard: connected to Varko's virtual port and listening to its sound.
    void ConnectKeys() {
        if (!keys_) {
            keys_ = std::make_unique<TJackMidiClient>("VarkoTestKeys", Rate * 4);
            ASSERT_TRUE(keys_->Ok());
        }
        ASSERT_EQ(keys_->ConnectMidiTo(VarkoPort), 1) << "Varko's JACK input is missing";
        ASSERT_TRUE(
            WaitFor([&] { return keys_->ListenToPlayback() == 2; }, std::chrono::seconds(30)))
            << "Varko's sound does not reach the playback ports";
    }
    // The master limiter (on by default) hears this far ahead, and delays the sound as much.
    long LimiterDelay() {
        TAudioEngine& engine = instrument_.Audio().Engine();
        return engine.Limit.load() ? static_cast<long>(engine.Limiter.Latency()) : 0;
    }
    float Pressure(size_t tone) {
        return instrument_.Audio().Engine().Oscillators.at(tone)->Pressure.load();
    }
    // Plays the messages from silence (at frame `offset` of a period) and returns the frames
    // from the note-on to the first sample that is not zero (or -1 when nothing sounds within
    // a second).
    long Onset(const Messages& notes, jack_nframes_t offset = 0) {
        keys_->Record();
        const jack_nframes_t sent = keys_->Send(notes, offset);
        EXPECT_TRUE(keys_->WaitRecorded(Rate, std::chrono::seconds(5)));
        for (size_t i = 0; i < keys_->Recorded(); ++i) {
            if (keys_->Left[i] != 0.0f || keys_->Right[i] != 0.0f) {
                return static_cast<long>(keys_->RecordStart() + i) - static_cast<long>(sent);
            }
        }
        return -1;
    }

    std::unique_ptr<TJackServer> server_;
    TInstrument instrument_;
    std::unique_ptr<TMidiInput> input_;
    std::vector<std::string> opened_;
    std::unique_ptr<TJackMidiClient> keys_;
    std::mutex queueMutex_;
    std::deque<std::function<void()>> queue_;
    // The longest a message from Varko's JACK input waited, from its frame's time until the
    // instrument had it (seconds; the input thread's).
    std::atomic<double> longestWait_{0.0};
};

TEST_F(MidiEndToEnd, NotesSoundAtTheirPitchesAndRingOut) {
    EXPECT_NE(std::find(opened_.begin(), opened_.end(), "JACK: Varko:midi_in"), opened_.end());
    ASSERT_NO_FATAL_FAILURE(ConnectKeys());

    // A note outside the tone list (13 tones from note 60): nothing sounds.
    keys_->Record();
    keys_->Send({{0x90, 73, 127}});
    ASSERT_TRUE(keys_->WaitRecorded(Rate / 2, std::chrono::seconds(5)));
    for (size_t i = 0; i < keys_->Recorded(); ++i) {
        ASSERT_EQ(keys_->Left[i], 0.0f) << "frame " << i;
    }
    EXPECT_EQ(instrument_.Midi().HeldNotes(), 0);

    // Two notes held: two peaks, and nothing between them.
    const long latency = Onset({{0x90, 60, 110}, {0x90, 67, 110}});
    ASSERT_GE(latency, 0) << "the notes did not sound";
    std::printf("note-on to onset: %ld frames (%.2f periods of %u frames at %u Hz)\n", latency,
                static_cast<double>(latency) / Period, Period, Rate);
    EXPECT_LE(latency, ExcitedWithin(60) + LimiterDelay());
    const size_t from = Rate / 5, n = Rate / 2;
    const double low = Magnitude(keys_->Left, from, n, Low);
    const double high = Magnitude(keys_->Left, from, n, High);
    const double between = Magnitude(keys_->Left, from, n, 250.0);
    std::printf("200 Hz %.3f, 299.7 Hz %.3f, 250 Hz %.4f\n", low, high, between);
    EXPECT_GT(low, 20 * between);
    EXPECT_GT(high, 20 * between);
    // Held keys leave their bars free to ring.
    EXPECT_EQ(instrument_.Midi().HeldNotes(), 2);
    EXPECT_EQ(Pressure(0), 0.0f);
    EXPECT_EQ(Pressure(7), 0.0f);

    // Released: the bars ring on.
    const double held = Rms(keys_->Left, Rate - Rate / 5, Rate / 5);
    keys_->Record();
    keys_->Send({{0x80, 60, 0}, {0x90, 67, 0}});
    ASSERT_TRUE(keys_->WaitRecorded(Rate / 2, std::chrono::seconds(5)));
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(1)));
    const double ringing = Rms(keys_->Left, Rate / 4, Rate / 5);
    std::printf("rms held %.4f, 0.25 s after the release %.4f\n", held, ringing);
    EXPECT_GT(ringing, 0.25 * held);
}

TEST_F(MidiEndToEnd, TheBarsAreExcitedAFixedDelayAfterTheNoteOn) {
    ASSERT_NO_FATAL_FAILURE(ConnectKeys());
    long shortest = 1 << 30, longest = 0, excitedLongest = 0;
    for (int note = 60; note < 73; note += 2) {
        // A new bank is silent again: each onset is measured from silence.
        instrument_.Midi().ReleaseAll();
        instrument_.Apply();
        ASSERT_NO_FATAL_FAILURE(ConnectKeys());
        const long latency = Onset({{0x90, static_cast<uint8_t>(note), 100}});
        ASSERT_GE(latency, 0) << "note " << note << " did not sound";
        EXPECT_LE(latency, ExcitedWithin(note) + LimiterDelay()) << "note " << note;
        shortest = std::min(shortest, latency);
        longest = std::max(longest, latency);
        excitedLongest = std::max(excitedLongest, latency - WaveDelay(note) - LimiterDelay());
    }
    std::printf("note-on to onset over 7 notes: %ld to %ld frames; the bars excited at most %ld "
                "frames (%.2f periods of %u) after the note-on\n",
                shortest, longest, excitedLongest, static_cast<double>(excitedLongest) / Period,
                Period);
}

// Looking for vanished ports asks the servers and takes tens of milliseconds, twice a second;
// notes that came meanwhile once waited for it and sounded that much late.
TEST_F(MidiEndToEnd, NotesDoNotWaitForThePortCheck) {
    ASSERT_NO_FATAL_FAILURE(ConnectKeys());
    longestWait_.store(0.0);
    // 3 s: six checks, a note every 50 ms.
    for (int i = 0; i < 60; ++i) {
        const auto note = static_cast<uint8_t>(60 + i % 12);
        keys_->Send({{0x90, note, 100}}); // at the first frame of a period
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        keys_->Send({{0x80, note, 0}});
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(1)));
    std::printf("longest wait of a note: %.2f ms\n", longestWait_.load() * 1e3);
    // In time for the block its frame was placed in: within the period it came in.
    EXPECT_LT(longestWait_.load(), static_cast<double>(Period) / Rate);
}

TEST_F(MidiEndToEnd, BadMidiAndVanishingSendersLeaveNoToneHeld) {
    ASSERT_NO_FATAL_FAILURE(ConnectKeys());
    // Running status across a system exclusive message, then a note-on of velocity 0.
    keys_->Send({{0x90, 60, 100}, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {60, 0}});
    keys_->Send({{0x90, 62, 100}});
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 1; }, std::chrono::seconds(1)));
    EXPECT_EQ(Pressure(0), 0.0f);
    keys_->Send({{0x90, 62, 0}});
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(1)));

    // The chosen port, unplugged while a note is held.
    TJackMidiClient pad("VarkoTestPad", 16);
    ASSERT_TRUE(pad.Ok());
    const std::string name = "JACK: " + pad.PortName();
    const auto ports = input_->Ports();
    ASSERT_NE(std::find(ports.begin(), ports.end(), name), ports.end()) << name;
    ASSERT_TRUE(input_->OpenPort(name));
    EXPECT_EQ(input_->OpenPortName(), name);
    pad.Send({{0x91, 64, 100}});
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 1; }, std::chrono::seconds(1)));
    // Another choice in the dialog: the old port's note cannot be released by it any more.
    EXPECT_FALSE(input_->OpenPort(""));
    EXPECT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(1)))
        << "the note of the port left stayed held";
    ASSERT_TRUE(input_->OpenPort(name));
    pad.Send({{0x91, 64, 100}});
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 1; }, std::chrono::seconds(1)));
    pad.RemoveMidiPort();
    EXPECT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(3)))
        << "the unplugged port's note stayed held";

    // A program playing through the virtual port goes away with a note held.
    keys_->Send({{0x90, 65, 100}});
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 1; }, std::chrono::seconds(1)));
    keys_.reset();
    EXPECT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(3)))
        << "the departed program's note stayed held";
    EXPECT_EQ(instrument_.Midi().HeldNotes(), 0);
}

TEST_F(MidiEndToEnd, AServerThatDiesTakesItsNotesAlong) {
    ASSERT_NO_FATAL_FAILURE(ConnectKeys());
    keys_->Send({{0x90, 64, 100}});
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 1; }, std::chrono::seconds(1)));
    server_->Kill(SIGKILL);
    // Released at once; the tone hears it at the next block the device asks for (none until
    // the server is back, and then the bank is rebuilt for it anyway).
    EXPECT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(3)))
        << "the note stayed held after the server died";
    WaitFor([&] { return keys_->ServerGone.load(); }, std::chrono::seconds(3));
    keys_.reset();
    // A killed server keeps its place in JACK's registry of servers (eight at most) until one
    // of its name starts and stops cleanly: the test's TearDown stops this one.
    ASSERT_TRUE(server_->Start());
}

// Varko's JACK ports and what they are connected to, as another client sees them.
std::set<std::pair<std::string, std::string>> VarkoConnections(jack_client_t* client) {
    std::set<std::pair<std::string, std::string>> found;
    if (const char** ports = jack_get_ports(client, "^Varko:", nullptr, 0)) {
        for (const char** p = ports; *p; ++p) {
            found.emplace(*p, "");
            jack_port_t* port = jack_port_by_name(client, *p);
            if (const char** peers = jack_port_get_all_connections(client, port)) {
                for (const char** q = peers; *q; ++q) {
                    found.emplace(*p, *q);
                }
                jack_free(peers);
            }
        }
        jack_free(ports);
    }
    return found;
}

// One client "Varko" with the same ports at every start; after a server restart its
// connections come back by themselves, and a note sounds without anything done by hand.
TEST_F(MidiEndToEnd, PortsKeepTheirNamesAndConnectionsComeBackAfterARestart) {
    ASSERT_NO_FATAL_FAILURE(ConnectKeys());
    // The keyboard listens to Varko directly, as a recorder the player connected would.
    const auto before = VarkoConnections(keys_->Client);
    std::set<std::string> names;
    for (const auto& [port, peer] : before) {
        names.insert(port);
    }
    for (const auto& n : names) {
        std::printf("port %s\n", n.c_str());
    }
    ASSERT_TRUE(names.count("Varko:midi_in") == 1);
    ASSERT_GE(names.size(), 3u) << "two audio outputs and the MIDI input";
    for (int start = 0; start < 3; ++start) {
        Detach();
        // As a program started again: the last one's client has gone.
        ASSERT_TRUE(WaitFor([&] { return VarkoConnections(keys_->Client).empty(); },
                            std::chrono::seconds(10)));
        ASSERT_NO_FATAL_FAILURE(Attach());
        ASSERT_TRUE(WaitFor(
            [&] {
                std::set<std::string> now;
                for (const auto& [port, peer] : VarkoConnections(keys_->Client)) {
                    now.insert(port);
                }
                return now == names;
            },
            std::chrono::seconds(10)))
            << "start " << start << ": other port names";
        ASSERT_NO_FATAL_FAILURE(ConnectKeys());
    }
    // Let the input note the connections, then restart the server; the keyboard comes back
    // under its own name, Varko by itself.
    WaitFor([] { return false; }, std::chrono::milliseconds(1200));
    const auto connected = VarkoConnections(keys_->Client);
    // The keyboard's program quits first (libjack copes badly with many clients of a server
    // that goes away), then the server restarts.
    keys_.reset();
    server_->Stop();
    ASSERT_TRUE(server_->Start());
    keys_ = std::make_unique<TJackMidiClient>("VarkoTestKeys", Rate * 4);
    ASSERT_TRUE(keys_->Ok());
    EXPECT_TRUE(WaitFor([&] { return VarkoConnections(keys_->Client) == connected; },
                        std::chrono::seconds(30)))
        << "the connections were not made again";
    for (const auto& [port, peer] : VarkoConnections(keys_->Client)) {
        std::printf("after the restart: %s -> %s\n", port.c_str(), peer.c_str());
    }
    // Nothing connected by hand: the keyboard's note sounds.
    ASSERT_TRUE(WaitFor(
        [&] {
            return instrument_.Audio().Running() &&
                   !instrument_.Audio().Engine().ResetPending.load() &&
                   instrument_.Audio().Engine().Oscillators.size() == 13;
        },
        std::chrono::seconds(30)));
    keys_->Record();
    keys_->Send({{0x90, 60, 110}});
    ASSERT_TRUE(keys_->WaitRecorded(Rate / 2, std::chrono::seconds(5)));
    double energy = 0;
    for (size_t i = 0; i < keys_->Recorded(); ++i) {
        energy += double{keys_->Left[i]} * keys_->Left[i];
    }
    EXPECT_GT(energy, 0.0) << "no sound after the restart";
}

// Varko's JACK input is read in its audio callback with each message's frame: a note-on sent
// at any frame of a period sounds the same number of frames later, at every period size.
class MidiTiming : public MidiEndToEnd {
protected:
    void SetUp() override {}
};

TEST_F(MidiTiming, ANoteSoundsFromItsFrameWhateverThePeriod) {
    const int note = 72; // a short wave delay: the onset is near the excitation
    for (const unsigned period : {64u, 256u, 1024u}) {
        SCOPED_TRACE("period " + std::to_string(period));
        ASSERT_NO_FATAL_FAILURE(Bring(period));
        ASSERT_NO_FATAL_FAILURE(ConnectKeys());
        std::vector<long> onsets;
        for (const unsigned offset : {0u, period / 3, period - 1, period / 2, 0u}) {
            instrument_.Midi().ReleaseAll();
            instrument_.Apply(); // a new bank is silent again
            ASSERT_NO_FATAL_FAILURE(ConnectKeys());
            const long latency = Onset({{0x90, static_cast<uint8_t>(note), 100}}, offset);
            ASSERT_GE(latency, 0) << "offset " << offset << " did not sound";
            onsets.push_back(latency);
        }
        const auto [lo, hi] = std::minmax_element(onsets.begin(), onsets.end());
        const double spreadMs = 1000.0 * static_cast<double>(*hi - *lo) / Rate;
        std::printf("period %u: note-on to onset %ld .. %ld frames over 5 frames in the period "
                    "(error %.3f ms; a period is %.2f ms)\n",
                    period, *lo, *hi, spreadMs, 1000.0 * period / Rate);
        std::fflush(stdout);
        EXPECT_LT(spreadMs, 1.0);
        // Two periods (the tones render one ahead, the input hands over in one), the bar's
        // own delay and the limiter's look-ahead; a period more when JACK runs the keyboard's
        // recording before Varko in the graph. The frame's time is mapped through the clock:
        // within a millisecond.
        const long expected = 3 * static_cast<long>(period) + WaveDelay(note) + LimiterDelay();
        EXPECT_LE(std::abs(*hi - expected), static_cast<long>(Rate / 1000));
        EXPECT_LE(std::abs(*lo - expected), static_cast<long>(Rate / 1000));
        TearDown();
        server_.reset();
        keys_.reset();
    }
}

// The ALSA sequencer: a client of the test's own sends to Varko's virtual port.
TEST_F(MidiEndToEnd, AlsaSequencerClientPlaysThroughTheVirtualPort) {
    if (!std::filesystem::exists("/dev/snd/seq")) {
        GTEST_SKIP() << "this machine has no ALSA sequencer (/dev/snd/seq): the ALSA path is "
                        "not tested here";
    }
    ASSERT_NE(std::find(opened_.begin(), opened_.end(), "ALSA: Varko"), opened_.end());
    snd_seq_t* seq = nullptr;
    ASSERT_EQ(snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0), 0);
    snd_seq_set_client_name(seq, "VarkoTestSeq");
    const int port =
        snd_seq_create_simple_port(seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC);
    ASSERT_GE(port, 0);
    // Varko's client and its virtual port, found by name.
    int varko = -1, varkoPort = -1;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* info = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&info);
    snd_seq_client_info_set_client(client, -1);
    while (varko < 0 && snd_seq_query_next_client(seq, client) >= 0) {
        if (std::string(snd_seq_client_info_get_name(client)) != "Varko") {
            continue;
        }
        snd_seq_port_info_set_client(info, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(info, -1);
        while (snd_seq_query_next_port(seq, info) >= 0) {
            if (std::string(snd_seq_port_info_get_name(info)) == "Varko") {
                varko = snd_seq_client_info_get_client(client);
                varkoPort = snd_seq_port_info_get_port(info);
            }
        }
    }
    ASSERT_GE(varko, 0) << "Varko's ALSA port is missing";
    ASSERT_EQ(snd_seq_connect_to(seq, port, varko, varkoPort), 0);
    auto send = [&](int note, int velocity) {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_source(&ev, port);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        snd_seq_ev_set_noteon(&ev, 0, note, velocity);
        snd_seq_event_output_direct(seq, &ev);
    };
    ASSERT_NO_FATAL_FAILURE(ConnectKeys());
    keys_->Record();
    send(60, 110);
    ASSERT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 1; }, std::chrono::seconds(1)));
    ASSERT_TRUE(keys_->WaitRecorded(Rate, std::chrono::seconds(5)));
    EXPECT_GT(Magnitude(keys_->Left, Rate / 2, Rate / 2, Low),
              20 * Magnitude(keys_->Left, Rate / 2, Rate / 2, 250.0));
    send(60, 0);
    EXPECT_TRUE(
        WaitFor([&] { return instrument_.Midi().HeldNotes() == 0; }, std::chrono::seconds(1)));
    snd_seq_close(seq);
}

} // namespace
} // namespace varko::test
