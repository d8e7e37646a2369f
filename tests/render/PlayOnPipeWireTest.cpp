// varko-render --play on Debian's desktop sound server: a PipeWire server of the test's own
// with a null sink, reached through each back end (PulseAudio, ALSA's default routed to the
// server, an ALSA device that grants another period, and JACK on PipeWire); the sink's monitor
// is recorded and must hold the tone, at its pitch, without a gap.
#include "audio/SoundServer.h"
#include "render/ToolRun.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>

using namespace varko;
using namespace varko::test;

namespace {

const std::string Examples = VARKO_EXAMPLES_DIR;
constexpr double Rate = 48000;
// Bar 9 of the 12-equal scale repeated one octave up.
const double Tone = 200.0 * std::pow(2.0, 9.0 / 12.0);
constexpr double Seconds = 5.0;

struct TPlayed {
    TRun Run;
    std::vector<float> Left;
    unsigned long long LateBlocks = ~0ull;
    double LatencyMs = -1;
};

class PlayOnPipeWire : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start()) << "PipeWire did not start: " << server_.Failure;
        // One tone held for the whole performance: the pen presses it every 30 ms.
        script_ = server_.Folder + "/hold.txt";
        std::ofstream s(script_);
        for (int i = 0; i * 0.03 < Seconds; ++i) {
            s << "tone " << i * 0.03 << " 9 0.6 " << (i % 2 ? 0.06 : 0.05) << " 0.5\n";
        }
    }
    void TearDown() override {
        if (HasFailure() && std::getenv("VARKO_KEEP_RECORDING")) {
            std::ofstream(std::getenv("VARKO_KEEP_RECORDING"), std::ios::binary)
                .write(reinterpret_cast<const char*>(lastRecording_.data()),
                       static_cast<std::streamsize>(lastRecording_.size() * sizeof(float)));
        }
        server_.Stop();
    }

    std::vector<std::string> Args(const std::string& device) const {
        return {"--scale",
                Examples + "/scales/12-equal.scl",
                "--up",
                "1",
                "--gesture",
                script_,
                "--play",
                "--device",
                device,
                "--seconds",
                std::to_string(Seconds)};
    }

    // Plays the held tone on device, recording the sink's monitor meanwhile. Through JACK on
    // PipeWire the tool and the recorder are JACK clients (pw-jack) of their own: a PulseAudio
    // recorder would change the graph's period under the JACK stream.
    TPlayed Play(const std::string& device, bool throughPwJack = false) {
        TPlayed p;
        TSinkRecorder recorder;
        TChild jackRecorder;
        const std::string wav = server_.Folder + "/monitor.wav";
        if (throughPwJack) {
            const std::string monitor = std::string(TPipeWireServer::SinkDescription) + ":monitor_";
            EXPECT_TRUE(
                jackRecorder.Start({"pw-jack", "jack_rec", "-f", wav, "-d",
                                    std::to_string(Seconds + 2), monitor + "FL", monitor + "FR"},
                                   server_.LogFile("jack_rec")));
            const std::string output = server_.Folder + "/tool.txt";
            std::vector<std::string> argv = {"pw-jack", VARKO_RENDER_TOOL};
            for (const std::string& a : Args(device)) {
                argv.push_back(a);
            }
            TChild tool;
            EXPECT_TRUE(tool.Start(argv, output));
            int status = -1;
            waitpid(tool.Pid, &status, 0);
            tool.Pid = -1;
            p.Run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::stringstream text;
            text << std::ifstream(output).rdbuf();
            p.Run.Out = text.str();
            waitpid(jackRecorder.Pid, nullptr, 0);
            jackRecorder.Pid = -1;
            SF_INFO info{};
            if (SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info)) {
                std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
                sf_readf_float(f, frames.data(), info.frames);
                sf_close(f);
                for (sf_count_t i = 0; i < info.frames; ++i) {
                    p.Left.push_back(frames[static_cast<size_t>(i * info.channels)]);
                }
            }
        } else {
            EXPECT_TRUE(recorder.Start(server_));
            p.Run = RunTool(Args(device));
            recorder.Stop();
            p.Left = recorder.Left;
        }
        lastRecording_ = p.Left;
        std::smatch m;
        if (std::regex_search(p.Run.Out, m, std::regex("Late tone blocks: ([0-9]+)"))) {
            p.LateBlocks = std::stoull(m[1]);
        }
        if (std::regex_search(p.Run.Out, m, std::regex("([0-9.]+) ms output latency"))) {
            p.LatencyMs = std::stod(m[1]);
        }
        return p;
    }

    // The tone at the sink: at its pitch, and without a gap. The held tone rings on and never
    // falls silent by itself; a late block or an underrun leaves a stretch of silence.
    void ExpectHeldTone(const TPlayed& p, const std::string& what) {
        ASSERT_EQ(p.Run.Status, 0) << p.Run.Out;
        const std::vector<float>& x = p.Left;
        size_t start = 0;
        while (start < x.size() && std::abs(x[start]) < 1e-3f) {
            ++start;
        }
        // From half a second into the tone (past its attack) to its last half second.
        const size_t from = start + static_cast<size_t>(Rate / 2);
        const size_t n = static_cast<size_t>((Seconds - 1) * Rate);
        ASSERT_GE(x.size(), from + n) << what << ": the sink holds too little sound; " << p.Run.Out;
        EXPECT_NEAR(Pitch(x, from + n - static_cast<size_t>(Rate), static_cast<size_t>(Rate), Rate,
                          100, 1000),
                    Tone, Tone * 0.01)
            << what;
        // Silent stretches of 1 ms and more.
        const size_t gap = static_cast<size_t>(Rate / 1000);
        size_t gaps = 0, run = 0;
        for (size_t i = from; i < from + n; ++i) {
            run = std::abs(x[i]) < 1e-6f ? run + 1 : 0;
            gaps += run == gap ? 1 : 0;
        }
        EXPECT_EQ(gaps, 0u) << what << ": silent gaps in the held tone";
        EXPECT_EQ(p.LateBlocks, 0u) << what << ": " << p.Run.Out;
        std::printf("%s: latency %.1f ms, late tone blocks %llu, silent gaps %zu\n", what.c_str(),
                    p.LatencyMs, p.LateBlocks, gaps);
    }

    TPipeWireServer server_;
    std::string script_;
    std::vector<float> lastRecording_;
};

} // namespace

TEST_F(PlayOnPipeWire, ListsWhatEachBackEndSees) {
    const TRun r = RunTool({"--list-devices"});
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_NE(r.Out.find("PulseAudio: VarkoNull"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("ALSA: default"), std::string::npos) << r.Out;
    // No JACK server here: said, not hidden.
    EXPECT_NE(r.Out.find("JACK: no output device"), std::string::npos) << r.Out;
}

TEST_F(PlayOnPipeWire, PulseAudioHoldsTheToneWithoutLateBlocks) {
    ExpectHeldTone(Play("PulseAudio: VarkoNull"), "PulseAudio");
}

TEST_F(PlayOnPipeWire, AlsaDefaultThroughTheServerHoldsTheTone) {
    ExpectHeldTone(Play("ALSA: default"), "ALSA default");
}

// A device that grants another period than the one asked for (as ALSA's dmix does): PipeWire's
// ALSA plugin with a fixed period of 768 frames.
TEST_F(PlayOnPipeWire, AlsaDeviceGrantingAnotherPeriodPlaysAtThatPeriod) {
    server_.UseAlsaConfig("pcm.!default { type pipewire; period_bytes 6144 }\n"
                          "ctl.!default { type pipewire }\n");
    const TPlayed p = Play("ALSA: default");
    EXPECT_NE(p.Run.Out.find("48000 Hz, 768 samples per block"), std::string::npos) << p.Run.Out;
    ExpectHeldTone(p, "ALSA, period granted 768");
}

TEST_F(PlayOnPipeWire, JackOnPipeWireHoldsTheTone) {
    const TPlayed p = Play("JACK: " + std::string(TPipeWireServer::SinkDescription), true);
    ExpectHeldTone(p, "JACK on PipeWire");
}
