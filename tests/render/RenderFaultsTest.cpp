// The render tool against what an attacker (or a slip of the keyboard) gives it: outputs that are
// inputs, devices, pipes, full disks, and renders that fail half-way. Nothing it did not create
// may be lost.
#include "render/Renderer.h"
#include "render/WavWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

const std::string Examples = VARKO_EXAMPLES_DIR;

struct TRun {
    int Status = -1;
    std::string Err;
};

TRun Render(const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    TRun r;
    r.Status = RunRenderTool(args, out, err);
    std::rewind(err);
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, err)) > 0;) {
        r.Err.append(buf, n);
    }
    std::fclose(out);
    std::fclose(err);
    return r;
}

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder of this test's own with a scale, a good and a bad script, and an earlier take.
// In a forked child: becomes the real program with these arguments.
[[noreturn]] void ExecTool(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(VARKO_RENDER_TOOL)};
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(VARKO_RENDER_TOOL, argv.data());
    ::_exit(127);
}

struct RenderFaults : ::testing::Test {
    void SetUp() override {
        Dir = fs::temp_directory_path() /
              ("varko-faults-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        fs::copy_file(Examples + "/scales/12-equal.scl", Dir / "s.scl");
        fs::copy_file(Examples + "/modes/marimba-bar.vmod", Dir / "m.vmod");
        std::ofstream(Dir / "good.txt") << "pen 0 0.5 0.5 0.5\n";
        // The bad tone comes late: once it was found only when playback reached it.
        std::ofstream(Dir / "bad.txt") << "pen 0 0.5 0.5 0.5\ntone 0.5 99 1 0.1 0.5\n";
        std::ofstream(Dir / "take.wav") << "an earlier take";
    }
    void TearDown() override { fs::remove_all(Dir); }
    std::vector<std::string> Args(const std::string& script, const fs::path& out) const {
        return {"--scale",   (Dir / "s.scl").string(),
                "--gesture", (Dir / script).string(),
                "--seconds", "1",
                "-o",        out.string()};
    }
    // The folder holds exactly these names: no temporary is left behind.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(Dir)) {
            names.insert(e.path().filename().string());
        }
        return names;
    }
    const std::set<std::string> Inputs{"s.scl", "m.vmod", "good.txt", "bad.txt", "take.wav"};
    fs::path Dir;
};

} // namespace

// "-o ./s.scl" once overwrote the scale with the WAV and exited 0.
TEST_F(RenderFaults, OutputThatIsAnInputIsRefused) {
    fs::create_symlink("s.scl", Dir / "link.scl");
    const std::string scale = Read(Dir / "s.scl");
    const std::string script = Read(Dir / "good.txt");
    const fs::path cwd = fs::current_path();
    fs::current_path(Dir);
    const std::vector<std::vector<std::string>> cases{
        {"--scale", "s.scl", "-o", "./s.scl"},
        {"--scale", "s.scl", "-o", (Dir / "link.scl").string()},
        {"--scale", "s.scl", "--gesture", "good.txt", "-o",
         "../" + Dir.filename().string() + "/good.txt"},
        {"--scale", "s.scl", "--modes", "m.vmod", "-o", "m.vmod"},
    };
    std::vector<TRun> runs;
    runs.reserve(cases.size());
    for (const auto& args : cases) {
        runs.push_back(Render(args));
    }
    fs::current_path(cwd);
    for (const TRun& r : runs) {
        EXPECT_EQ(r.Status, 2) << r.Err;
        EXPECT_NE(r.Err.find("is the input file"), std::string::npos) << r.Err;
    }
    EXPECT_EQ(Read(Dir / "s.scl"), scale);
    EXPECT_EQ(Read(Dir / "good.txt"), script);
    EXPECT_TRUE(fs::is_symlink(Dir / "link.scl"));
}

// A render without anything to play wrote seconds of silence without a word.
TEST_F(RenderFaults, NothingToPlayIsSaid) {
    const TRun silent =
        Render({"--scale", (Dir / "s.scl").string(), "-o", (Dir / "silent.wav").string()});
    EXPECT_EQ(silent.Status, 0);
    EXPECT_NE(silent.Err.find("nothing is played"), std::string::npos) << silent.Err;
    const TRun played = Render(Args("good.txt", Dir / "played.wav"));
    EXPECT_EQ(played.Status, 0);
    EXPECT_EQ(played.Err.find("nothing is played"), std::string::npos) << played.Err;
}

// A render that failed after opening its output truncated and then removed the path: an earlier
// take, a link and its target, and (as root) /dev/null.
TEST_F(RenderFaults, FailedRenderLeavesWhatWasThere) {
    TRun r = Render(Args("bad.txt", Dir / "take.wav"));
    EXPECT_EQ(r.Status, 2);
    // The message names the script and the line.
    EXPECT_NE(r.Err.find((Dir / "bad.txt").string() + ", line 2: there is no tone 99"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(Read(Dir / "take.wav"), "an earlier take");

    fs::create_symlink("take.wav", Dir / "link.wav");
    EXPECT_EQ(Render(Args("bad.txt", Dir / "link.wav")).Status, 2);
    EXPECT_TRUE(fs::is_symlink(Dir / "link.wav"));
    EXPECT_EQ(Read(Dir / "take.wav"), "an earlier take");
    // A good render through the link replaces the take and keeps the link.
    EXPECT_EQ(Render(Args("good.txt", Dir / "link.wav")).Status, 0);
    EXPECT_TRUE(fs::is_symlink(Dir / "link.wav"));
    SF_INFO info{};
    SNDFILE* f = sf_open((Dir / "take.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.frames, 48000);
    sf_close(f);

    std::set<std::string> expected = Inputs;
    expected.insert("link.wav");
    if (::geteuid() == 0) {
        // A device of its own (the null device's numbers), so that a fault cannot hit /dev/null.
        ASSERT_EQ(::mknod((Dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        EXPECT_EQ(Render(Args("bad.txt", Dir / "null")).Status, 2);
        EXPECT_EQ(Render(Args("good.txt", Dir / "null")).Status, 0);
        EXPECT_TRUE(fs::is_character_file(Dir / "null"));
        expected.insert("null");
    }
    EXPECT_EQ(Names(), expected);
}

// A full disk exited 2, like a wrong option, with no reason given, and removed the old take.
TEST_F(RenderFaults, FullDiskFailsWithItsReasonAndKeepsTheOldFile) {
    // As root, a device of its own (the full device's numbers), so that a fault cannot remove
    // /dev/full.
    std::string full = "/dev/full";
    std::set<std::string> expected = Inputs;
    if (::geteuid() == 0) {
        ASSERT_EQ(::mknod((Dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
        full = (Dir / "full").string();
        expected.insert("full");
    }
    TRun r = Render(Args("good.txt", full));
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("No space left on device"), std::string::npos) << r.Err;

    // A disk that fills half-way, with the real program: a file-size limit of 64 KiB.
    const std::string errFile = (Dir / "err.txt").string();
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit limit{64 << 10, 64 << 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of killing the program
        std::freopen(errFile.c_str(), "w", stderr);
        ExecTool(Args("good.txt", Dir / "take.wav"));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const std::string err = Read(errFile);
    fs::remove(errFile);
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    EXPECT_NE(err.find("File too large"), std::string::npos) << err;
    EXPECT_EQ(Read(Dir / "take.wav"), "an earlier take");
    EXPECT_EQ(Names(), expected);
}

// A FIFO as --scale, --modes or --gesture blocked the tool for ever; so did one as -o.
TEST_F(RenderFaults, PipesNeitherBlockNorAreReplaced) {
    const fs::path fifo = Dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string s = (Dir / "s.scl").string(), f = fifo.string();
    const std::vector<std::vector<std::string>> cases{
        {"--scale", f, "-o", (Dir / "x.wav").string()},
        {"--scale", s, "--modes", f, "-o", (Dir / "x.wav").string()},
        {"--scale", s, "--gesture", f, "-o", (Dir / "x.wav").string()},
        {"--scale", s, "--seconds", "1", "-o", f},
    };
    auto runs = std::async(std::launch::async, [&] {
        std::vector<TRun> r;
        r.reserve(cases.size());
        for (const auto& args : cases) {
            r.push_back(Render(args));
        }
        return r;
    });
    if (runs.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Let the blocked open go (a writer, then a reader), then fail.
        while (runs.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            for (const int mode : {O_WRONLY, O_RDONLY}) {
                const int fd = ::open(fifo.c_str(), mode | O_NONBLOCK);
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        }
        FAIL() << "the tool waited on the pipe";
    }
    for (const TRun& r : runs.get()) {
        EXPECT_NE(r.Status, 0);
        EXPECT_FALSE(r.Err.empty());
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_FALSE(fs::exists(Dir / "x.wav"));
}

// "rendering 5 of 5 s" came twice when standard error was not a terminal.
TEST_F(RenderFaults, ProgressShowsEachSecondOnce) {
    auto args = Args("good.txt", Dir / "out.wav");
    args[5] = "7";
    args.insert(args.end(), {"--rate", "8000"}); // the lines, not the sound, are looked at
    const TRun r = Render(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::string expected;
    for (int s = 1; s <= 7; ++s) {
        expected += "rendering " + std::to_string(s) + " of 7 s\n";
    }
    EXPECT_EQ(r.Err, expected);
}

// --mode-limit 100000 and a long mode file took gigabytes: now the limit stops at 100, and a
// bank whose bands would still need too much memory is refused with the reason.
TEST_F(RenderFaults, BankBeyondItsMemoryIsRefusedWithTheReason) {
    {
        // 101 tones a hundredth of a cent apart, each with 100 modes of a second-long line.
        std::ofstream scale(Dir / "cluster.scl");
        scale << "a cluster\n100\n";
        for (int i = 1; i <= 100; ++i) {
            scale << 0.01 * i << "\n";
        }
        std::ofstream modes(Dir / "low.vmod");
        for (int i = 0; i < 100; ++i) {
            modes << 0.006 + 0.0001 * i << ", 1\n";
        }
    }
    TRun r =
        Render({"--scale", (Dir / "cluster.scl").string(), "--modes", (Dir / "low.vmod").string(),
                "--mode-limit", "100", "-o", (Dir / "out.wav").string()});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("The tone bank would need"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(Dir / "out.wav"));
    r = Render({"--scale", (Dir / "s.scl").string(), "--mode-limit", "101", "-o",
                (Dir / "out.wav").string()});
    EXPECT_EQ(r.Status, 2);
}

// --help said that --demo needs an audio device; it renders to a file, as the help now says.
TEST_F(RenderFaults, DemoWritesTheFileTheHelpNames) {
    EXPECT_NE(RenderUsage().find("render a bundled glissando to varko-demo.wav"),
              std::string::npos);
    const TRun r = Render({"--demo", "--rate", "8000", "-o", (Dir / "demo.wav").string()});
    ASSERT_EQ(r.Status, 0) << r.Err;
    SF_INFO info{};
    SNDFILE* f = sf_open((Dir / "demo.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_GT(info.frames, 8000 * 2);
    sf_close(f);
}

// --seconds 12000 wrote 4.6 GB whose 32-bit RIFF sizes wrapped: players read 13.5 minutes.
TEST(WavWriter, DataBeyond4GiBIsWrittenAsRf64) {
    using F = TWavWriter::TFormat;
    // 32-bit float stereo: 8 bytes a frame.
    EXPECT_FALSE(TWavWriter::NeedsRf64(F::Float, 2, 500'000'000));
    EXPECT_TRUE(TWavWriter::NeedsRf64(F::Float, 2, 537'000'000));
    EXPECT_FALSE(TWavWriter::NeedsRf64(F::Pcm16, 2, 1'000'000'000));
    EXPECT_TRUE(TWavWriter::NeedsRf64(F::Pcm16, 2, 1'074'000'000));
    EXPECT_TRUE(TWavWriter::NeedsRf64(F::Float, 2, uint64_t{12000} * 48000));

    for (const uint64_t announced : {uint64_t{100}, uint64_t{12000} * 48000}) {
        const fs::path path =
            fs::temp_directory_path() / ("varko-rf64-" + std::to_string(::getpid()) + ".wav");
        TWavWriter wav;
        std::string error;
        ASSERT_TRUE(wav.Open(path.string(), F::Float, 48000, 2, announced, error)) << error;
        const float frames[8] = {0.5f, -0.5f, 0.25f, -0.25f, 0, 0, 1, -1};
        ASSERT_TRUE(wav.Write(frames, 4));
        ASSERT_TRUE(wav.Finish(error)) << error;
        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK,
                  announced > 100 ? SF_FORMAT_RF64 : SF_FORMAT_WAV);
        EXPECT_EQ(info.frames, 4);
        float back[8] = {};
        EXPECT_EQ(sf_readf_float(f, back, 4), 4);
        EXPECT_EQ(back[6], 1.0f);
        sf_close(f);
        fs::remove(path);
    }
}

// Ctrl+C, kill or a closed terminal left the render's hidden temporary beside the output (71 MB
// in one case); the process still ends by the signal.
TEST_F(RenderFaults, AnInterruptedRenderLeavesNoTemporary) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::freopen("/dev/null", "w", stderr);
            auto args = Args("good.txt", Dir / "long.wav");
            args[5] = "3600"; // --seconds: far longer than the test waits
            ExecTool(args);
        }
        // Until the temporary holds some audio.
        bool writing = false;
        for (int i = 0; i < 3000 && !writing; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (const auto& e : fs::directory_iterator(Dir)) {
                std::error_code ec;
                writing = writing || (e.path().filename().string().rfind(".long.wav.", 0) == 0 &&
                                      fs::file_size(e.path(), ec) > 100000);
            }
        }
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(writing) << "the render never wrote its temporary";
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal << ", status " << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(Names(), Inputs) << "signal " << signal;
    }
}

// The hostile takes of the test data, each re-rendered from a copy of its own: one that names
// /etc/passwd once had it read; a damaged mode file or a scale with errors once printed nothing
// and exited 0 with silence in the file; a line cut short by a crash once refused the whole take.
TEST_F(RenderFaults, EveryHostileTakeIsRefusedWithItsReason) {
    struct TCase {
        const char* Take;
        int Status;
        std::vector<const char*> Said;
    };
    const TCase cases[] = {
        {"good", 0, {}},
        {"half-line", 0, {"stops early: line 4 was cut short"}},
        {"parent-name", 1, {"must name a file in the take's own folder"}},
        {"absolute-names", 1, {"must name a file in the take's own folder"}},
        {"link-out", 1, {"leads out of its folder"}},
        {"frequency-out-of-range", 1, {"frequency=1e300 must be a frequency from"}},
        {"overlong-line", 1, {"line 3: the line is longer than 131072 characters"}},
        {"rate-out-of-range", 1, {"SampleRate=1000000"}},
        {"rate-not-a-number", 1, {"SampleRate=abc"}},
        {"block-too-large", 1, {"BlockSize=65536"}},
        {"block-of-one", 1, {"BlockSize=1"}},
        {"six-million-years", 1, {"Frames=9000000000000000000"}},
        {"damaged-modes", 1, {"Vibration mode file contains errors", "is silent"}},
        {"scale-with-errors", 1, {"The scale file contains errors", "is silent"}},
    };
    fs::copy(VARKO_TAKES_DATA, Dir / "takes",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    std::set<std::string> untried;
    for (const auto& e : fs::directory_iterator(Dir / "takes")) {
        if (e.is_directory()) {
            untried.insert(e.path().filename().string());
        }
    }
    for (const TCase& c : cases) {
        untried.erase(c.Take);
        const TRun r = Render({"--performance", (Dir / "takes" / c.Take).string(), "-o",
                               (Dir / "again.wav").string()});
        EXPECT_EQ(r.Status == 0, c.Status == 0) << c.Take << ": " << r.Err.substr(0, 400);
        for (const char* said : c.Said) {
            EXPECT_NE(r.Err.find(said), std::string::npos)
                << c.Take << ": " << r.Err.substr(0, 400);
        }
        EXPECT_LT(r.Err.size(), 1000u) << c.Take;
    }
    EXPECT_TRUE(untried.empty()) << "a take of the test data no case tries: " << *untried.begin();
}

// -o onto any file of the take, through "..", a link or the ini: refused, the file kept.
TEST_F(RenderFaults, OutputOntoAFileOfTheTakeIsRefused) {
    const fs::path take = Dir / "take";
    fs::copy(fs::path(VARKO_TAKES_DATA) / "good", take);
    fs::create_symlink(take / "performance.ini", Dir / "ini-link");
    const std::string before = Read(take / "performance.ini");
    for (const fs::path& out :
         {take / "performance.ini", take / ".." / "take" / "own.scl", Dir / "ini-link"}) {
        const TRun r = Render({"--performance", take.string(), "-o", out.string()});
        EXPECT_EQ(r.Status, 2) << out;
        EXPECT_NE(r.Err.find("is the input file"), std::string::npos) << r.Err;
    }
    EXPECT_EQ(Read(take / "performance.ini"), before);
}

// A script of 1,000 rebuilds at one sample froze the window for minutes: only the bank that
// sounds is built.
TEST_F(RenderFaults, RebuildsThatNeverSoundAreNotBuilt) {
    const fs::path take = Dir / "take";
    fs::create_directories(take);
    std::ofstream(take / "performance.ini")
        << "[Performance]\nSampleRate=48000\nBlockSize=256\nFrames=24000\nComplete=1\n";
    std::ofstream(take / "errors.scl") << "broken\n3\nfoo\nbar\n2/1\n";
    fs::copy_file(Dir / "s.scl", take / "s.scl");
    const std::string tail =
        " modes=- frequency=200 down=0 up=0 ends=0 end=free weighting=6 limit=8 interpolate=0\n";
    std::ofstream script(take / "performance.txt");
    for (int i = 0; i < 1000; ++i) {
        script << "rebuild @0 scale=errors.scl" << tail;
    }
    script << "rebuild @0 scale=s.scl" << tail << "pen @0 0.5 0.5 0.5\n";
    script.close();
    const TRun r = Render({"--performance", take.string(), "-o", (Dir / "again.wav").string()});
    EXPECT_EQ(r.Status, 0) << r.Err.substr(0, 2000);
    EXPECT_EQ(r.Err.find("contains errors"), std::string::npos) << r.Err.substr(0, 2000);
}
