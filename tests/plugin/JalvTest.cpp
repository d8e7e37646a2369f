// Debian's jalv hosts the plugin on a JACK server of the test's own (dummy back end): a JACK MIDI
// client of the test plays it, a capture client records it. The reference note sounds at the
// initial frequency, a chord gives both its pitches, and a state saved through lilv (as jalv
// saves) with a scale whose file is gone by then is loaded by jalv -l and plays that scale.
#include "Lv2Host.h"
#include "Signal.h"
#include "audio/JackServer.h"

#include <gtest/gtest.h>
#include <jack/midiport.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/prctl.h>

using namespace varko::test;
namespace fs = std::filesystem;

namespace {

constexpr unsigned Rate = 48000;
constexpr const char* Client = "VarkoJalv";

// Sends MIDI messages from a port of its own, each at the start of the next cycle.
class TMidiSender {
public:
    TMidiSender() {
        jack_status_t status{};
        client_ = jack_client_open("VarkoKeys", JackNoStartServer, &status);
        if (client_ == nullptr) {
            return;
        }
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &TMidiSender::Process, this);
        jack_activate(client_);
    }
    ~TMidiSender() {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }
    bool Connect(const std::string& to) {
        return client_ != nullptr && jack_connect(client_, jack_port_name(port_), to.c_str()) == 0;
    }
    // One message; returns once the process callback has sent it.
    void Send(uint8_t a, uint8_t b, uint8_t c) {
        message_ = {a, b, c};
        pending_.store(true);
        while (pending_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

private:
    static int Process(jack_nframes_t n, void* arg) {
        auto* self = static_cast<TMidiSender*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, n);
        jack_midi_clear_buffer(buffer);
        if (self->pending_.load()) {
            jack_midi_event_write(buffer, 0, self->message_.data(), 3);
            self->pending_.store(false);
        }
        return 0;
    }
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::array<jack_midi_data_t, 3> message_{};
    std::atomic<bool> pending_{false};
};

// jalv with the plugin, its output in log; stopped with SIGINT, as at a terminal.
class TJalv {
public:
    TJalv(const fs::path& lv2Path, const fs::path& log, const std::string& stateDir = "") {
        // Its console ends at the end of its input: the input stays open until it is stopped.
        int input[2] = {-1, -1};
        if (pipe(input) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(input[0], STDIN_FILENO);
            close(input[1]);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setenv("LV2_PATH", (lv2Path.string() + ":/usr/lib/lv2").c_str(), 1);
            freopen(log.c_str(), "w", stdout);
            dup2(fileno(stdout), fileno(stderr));
            // Line by line, so that the log can be read while it runs.
            if (stateDir.empty()) {
                execlp("stdbuf", "stdbuf", "-oL", "jalv", "-x", "-n", Client, PluginUri,
                       static_cast<char*>(nullptr));
            } else {
                execlp("stdbuf", "stdbuf", "-oL", "jalv", "-x", "-n", Client, "-l",
                       stateDir.c_str(), PluginUri, static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        close(input[0]);
        input_ = input[1];
    }
    ~TJalv() {
        close(input_);
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) != pid_; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

std::string Log(const fs::path& log) {
    std::ifstream in(log);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Waits for jalv's ports, wires its outputs to the playback ports and the keys to its input.
bool Wire(TMidiSender& keys, const fs::path& log) {
    jack_status_t status{};
    jack_client_t* c = jack_client_open("VarkoWire", JackNoStartServer, &status);
    if (c == nullptr) {
        return false;
    }
    const std::string out = std::string(Client) + ":lv2_audio_out_";
    // jalv's ports appear before its client is active, and only an active client's ports can be
    // connected: try until they take it. jalv may have wired its outputs itself.
    const auto connect = [&](const std::string& from, const char* to) {
        const int r = jack_connect(c, from.c_str(), to);
        return r == 0 || r == EEXIST;
    };
    bool wired = false;
    for (int i = 0; i < 300 && !wired; ++i) {
        wired = connect(out + "1", "system:playback_1") &&
                connect(out + "2", "system:playback_2") &&
                keys.Connect(std::string(Client) + ":lv2_events_in");
        if (!wired) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    jack_client_close(c);
    if (!wired) {
        ADD_FAILURE() << "jalv's ports are not there or not wired; its output:\n" << Log(log);
    }
    return wired;
}

// Of the semitones within four of hertz, the loudest, in semitones from hertz.
int LoudestSemitoneNear(const std::vector<float>& x, size_t from, double hertz) {
    int best = 0;
    double most = -1.0;
    for (int s = -4; s <= 4; ++s) {
        const double p = varko::test::Power(x, from, 16384, hertz * std::pow(2.0, s / 12.0), Rate);
        if (p > most) {
            most = p;
            best = s;
        }
    }
    return best;
}

size_t FirstSound(const std::vector<float>& x, size_t n) {
    size_t i = 0;
    while (i < n && std::fabs(x[i]) < 1e-6f) {
        ++i;
    }
    return i;
}

// Records what the keys play: a second per message group.
std::vector<float> Record(TJackCapture& capture, TMidiSender& keys,
                          const std::vector<std::array<uint8_t, 3>>& messages) {
    capture.Record();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (const auto& m : messages) {
        keys.Send(m[0], m[1], m[2]);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    std::vector<float> left(capture.Left.begin(), capture.Left.begin() + capture.Recorded());
    return left;
}

struct JalvHost : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("varko-jalv-" + std::to_string(getpid()));
    // A name of each test's own: the last test's server may still be going away.
    TJackServer Server{"varko-jalv-" + std::to_string(getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name(),
                       Rate, 256};
    void SetUp() override {
        fs::remove_all(Dir);
        fs::create_directories(Dir / "lv2");
        fs::create_directory_symlink(fs::path(VARKO_PLUGIN_BIN) / "Varko.lv2",
                                     Dir / "lv2" / "Varko.lv2");
        ASSERT_TRUE(Server.Start()) << "the JACK server did not start";
    }
    void TearDown() override { fs::remove_all(Dir); }
};

TEST_F(JalvHost, TheReferenceNoteAndAChordSoundAtTheirPitches) {
    TJalv jalv(Dir / "lv2", Dir / "jalv.log");
    TMidiSender keys;
    ASSERT_TRUE(Wire(keys, Dir / "jalv.log"));
    TJackCapture capture(Rate * 3);
    ASSERT_GT(capture.Connect(), 0);

    const std::vector<float> a = Record(capture, keys, {{0x91, 69, 100}});
    const size_t start = FirstSound(a, a.size());
    ASSERT_LT(start + 20000, a.size()) << "no sound from jalv; its output:\n"
                                       << Log(Dir / "jalv.log");
    EXPECT_EQ(LoudestSemitoneNear(a, start, 440.0), 0);
    keys.Send(0x81, 69, 0);

    // An octave and more below the A, which rings on: neither pitch is within four semitones
    // of it or of the other.
    const std::vector<float> chord = Record(capture, keys, {{0x91, 48, 100}, {0x91, 55, 100}});
    ASSERT_GT(chord.size(), 30000u);
    EXPECT_EQ(LoudestSemitoneNear(chord, 8000, 261.63 / 2), 0);
    EXPECT_EQ(LoudestSemitoneNear(chord, 8000, 261.63 / 2 * std::pow(2.0, 7 / 12.0)), 0);
}

TEST_F(JalvHost, AStateWithAScaleWhoseFileIsGoneLoadsAndPlaysIt) {
    // The state as lilv saves it for jalv: a scale chosen from a file and hinged ends.
    const fs::path scale = Dir / "fifths.scl";
    std::ofstream(scale) << "! fifths.scl\nFifths\n 2\n!\n 3/2\n 2/1\n";
    {
        TLv2Host lv2(VARKO_PLUGIN_BIN, Rate);
        lv2.Control("ends") = 3.0f;
        lv2.ChooseFile("scale", scale.string());
        std::vector<float> l(512), r(512);
        lv2.Run(512, nullptr, 0, l.data(), r.data());
        LilvState* state = lv2.Save((Dir / "session").string());
        ASSERT_NE(state, nullptr);
        ASSERT_EQ(lilv_state_save(lv2.World(), &lv2.Urids().MapFeature, &lv2.Urids().UnmapFeature,
                                  state, nullptr, (Dir / "session").c_str(), "state.ttl"),
                  0);
        lilv_state_free(state);
    }
    fs::remove(scale);

    TJalv jalv(Dir / "lv2", Dir / "jalv.log", (Dir / "session").string());
    TMidiSender keys;
    ASSERT_TRUE(Wire(keys, Dir / "jalv.log"));
    TJackCapture capture(Rate * 3);
    ASSERT_GT(capture.Connect(), 0);
    // Let the rebuild of the loaded scale reach the process call.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // The key above the reference note plays the fifth.
    const std::vector<float> fifth = Record(capture, keys, {{0x91, 61, 100}});
    const size_t start = FirstSound(fifth, fifth.size());
    ASSERT_LT(start + 20000, fifth.size()) << Log(Dir / "jalv.log");
    EXPECT_EQ(LoudestSemitoneNear(fifth, start, 261.63 * 1.5), 0) << Log(Dir / "jalv.log");
    // The object: jalv hands the saved ends to the plugin (it prints the values it starts with).
    EXPECT_NE(Log(Dir / "jalv.log").find("ends = 3.0"), std::string::npos) << Log(Dir / "jalv.log");
}

} // namespace
