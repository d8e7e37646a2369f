// Sound servers of the test's own, each with a null sink that is the default output, in a
// runtime folder and a HOME of their own: PipeWire as Debian's desktop runs it (pipewire,
// wireplumber on a session bus of its own, pipewire-pulse), or a real PulseAudio daemon. ALSA's
// default is routed through the server by an asoundrc in that HOME, and the sink's monitor can
// be recorded with parec.
#pragma once

#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

// Where scripts/setup unpacks the pulseaudio package.
#ifndef VARKO_PULSEAUDIO_DIR
#define VARKO_PULSEAUDIO_DIR "/opt/varko-pulseaudio"
#endif

namespace varko::test {

// A child process that never outlives the test; its output goes to a log file.
class TChild {
public:
    TChild() = default;
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    ~TChild() { Stop(); }

    bool Start(const std::vector<std::string>& argv, const std::string& log, int outFd = -1) {
        Pid = fork();
        if (Pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0) {
                dup2(outFd >= 0 ? outFd : fd, 1);
                dup2(fd, 2);
            }
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            dprintf(2, "cannot run %s: %s\n", args[0], std::strerror(errno));
            _exit(127);
        }
        return Pid > 0;
    }
    bool Running() {
        if (Pid > 0 && waitpid(Pid, nullptr, WNOHANG) == Pid)
            Pid = -1; // reaped: never signal that number again
        return Pid > 0;
    }
    void Stop() {
        if (Pid <= 0)
            return;
        kill(Pid, SIGTERM);
        for (int i = 0; i < 30; ++i) {
            if (waitpid(Pid, nullptr, WNOHANG) == Pid) {
                Pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
        Pid = -1;
    }
    pid_t Pid = -1;
};

// Runs a shell command in the server's environment; true when it exited 0.
inline bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// What the test's own sound servers share: a runtime folder and HOME of their own (the caller's
// settings and state stay out), daemons started there with a log each, waits that end as soon
// as a daemon quits, and ALSA's default routed through the server by an asoundrc in that HOME.
class TSoundServer {
public:
    static constexpr const char* SinkName = "varko_null";
    static constexpr const char* SinkDescription = "VarkoNull";
    // A loaded machine can take many seconds to start a server's daemons.
    static constexpr std::chrono::seconds StartLimit{90};

    TSoundServer() = default;
    TSoundServer(const TSoundServer&) = delete;
    TSoundServer& operator=(const TSoundServer&) = delete;

    // Makes text the asoundrc in the server's HOME; ALSA reads it at its next open.
    void UseAlsaConfig(const std::string& text) const {
        std::ofstream(Folder + "/.asoundrc") << text;
        snd_config_update_free_global();
    }

    // Where the program called name writes its output.
    std::string LogFile(const std::string& name) const { return Folder + "/" + name + ".log"; }

    std::string Folder, Failure;

protected:
    ~TSoundServer() = default;

    // A fresh folder as runtime folder and HOME, with ALSA's default through the server.
    bool MakeFolder(const char* prefix) {
        std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            Failure = std::string("no server folder: ") + std::strerror(errno);
            return false;
        }
        Folder = pattern;
        Failure.clear();
        started_.clear();
        setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
        setenv("HOME", Folder.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Folder + "/.config").c_str(), 1);
        setenv("XDG_STATE_HOME", (Folder + "/.local/state").c_str(), 1);
        for (const char* v : {"PULSE_SERVER", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR",
                              "PULSE_RUNTIME_PATH", "PULSE_SINK", "ALSA_CONFIG_PATH"})
            unsetenv(v);
        UseAlsaConfig("pcm.!default { type pulse }\nctl.!default { type pulse }\n");
        // Made before any daemon or client starts: pipewire-pulse checks for the folder, then
        // makes it and quits if it already exists, and the first pactl poll makes it too.
        if (mkdir((Folder + "/pulse").c_str(), 0700) != 0) {
            Failure = std::string("no pulse folder: ") + std::strerror(errno);
            return false;
        }
        return true;
    }

    // Removes the folder unless a failed start asked to keep it.
    void RemoveFolder() {
        if (!Folder.empty() && !keep_) {
            std::error_code ignored;
            std::filesystem::remove_all(Folder, ignored);
        }
        Folder.clear();
        keep_ = false;
    }

    bool Launch(TChild& child, const std::string& name, const std::vector<std::string>& argv) {
        started_.emplace_back(&child, name);
        if (!child.Start(argv, LogFile(name))) {
            Failure = name + " could not be started: " + std::strerror(errno);
            return false;
        }
        return true;
    }

    static bool IsDefaultSink() {
        return Run(std::string("pactl info | grep -q '^Default Sink: ") + SinkName + "$'");
    }

    // Polls ready until it holds, a daemon quits (Failure quotes its log) or the limit passes.
    template <typename F>
    bool WaitFor(std::chrono::steady_clock::time_point limit, const std::string& what, F ready) {
        for (;;) {
            if (ready())
                return true;
            for (auto& [child, name] : started_) {
                if (!child->Running()) {
                    Failure = name + " quit while waiting for " + what + Tail(name);
                    return false;
                }
            }
            if (std::chrono::steady_clock::now() > limit) {
                Failure = "no " + what + " after " + std::to_string(StartLimit.count()) + " s";
                for (auto& [child, name] : started_)
                    Failure += Tail(name);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // The last lines of a daemon's log, for a failure message.
    std::string Tail(const std::string& name) const {
        std::ifstream in(LogFile(name));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        const size_t from = lines.size() > 15 ? lines.size() - 15 : 0;
        std::string text = "\n--- " + LogFile(name) + (lines.empty() ? " (empty)" : "") + "\n";
        for (size_t i = from; i < lines.size(); ++i)
            text += lines[i] + "\n";
        return text;
    }

    std::vector<std::pair<TChild*, std::string>> started_;
    bool keep_ = false;
};

class TPipeWireServer : public TSoundServer {
public:
    ~TPipeWireServer() { Stop(); }

    // Starts the servers and waits until the null sink is the default; when they do not come
    // up, false, with Failure saying why (from the daemon's own log) and the folder kept.
    bool Start() {
        if (!MakeFolder("varko-pw"))
            return false;
        const std::string bus = "unix:path=" + Folder + "/bus";
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        WriteSessionManagerConfig();

        const auto limit = std::chrono::steady_clock::now() + StartLimit;
        const bool up =
            Launch(bus_, "dbus", {"dbus-daemon", "--session", "--nofork", "--address=" + bus}) &&
            WaitFor(limit, "the session bus",
                    [&] { return std::filesystem::exists(Folder + "/bus"); }) &&
            Launch(pipeWire_, "pipewire", {"pipewire"}) &&
            WaitFor(limit, "pipewire's socket",
                    [&] { return std::filesystem::exists(Folder + "/pipewire-0"); }) &&
            Launch(pulse_, "pipewire-pulse", {"pipewire-pulse"}) &&
            Launch(sessionManager_, "wireplumber", {"wireplumber"}) &&
            WaitFor(limit, "pipewire-pulse to answer", [] { return Run("pactl info"); }) &&
            LoadNullSink() &&
            // Chosen by the session manager once it sees the sink; chosen here too, so that the
            // test never hangs on the session manager's own preferences.
            WaitFor(limit, "the null sink to be the default", [] {
                return IsDefaultSink() ||
                       (Run(std::string("pactl set-default-sink ") + SinkName) && IsDefaultSink());
            });
        if (!up) {
            keep_ = true;
            Stop();
        }
        return up;
    }

    void Stop() {
        sessionManager_.Stop();
        pulse_.Stop();
        pipeWire_.Stop();
        bus_.Stop();
        RemoveFolder();
    }

private:
    // WirePlumber 0.4 (Debian 12) quits when a module it loads cannot start, and its bluetooth
    // monitor loads the logind one, which needs systemd's run-time folders. The device monitors
    // would only add real cards that compete with the null sink. The test needs none of them.
    void WriteSessionManagerConfig() const {
        const std::filesystem::path config = Folder + "/.config/wireplumber";
        const std::pair<const char*, const char*> files[] = {
            {"main.lua.d", "alsa_monitor.enabled = false\n"
                           "v4l2_monitor.enabled = false\n"
                           "libcamera_monitor.enabled = false\n"},
            {"bluetooth.lua.d", "bluez_monitor.enabled = false\n"},
        };
        for (const auto& [dir, text] : files) {
            std::filesystem::create_directories(config / dir);
            // After the packaged 50-*-config.lua that enable them, before 90-enable-all.lua.
            std::ofstream(config / dir / "80-varko-test.lua") << text;
        }
    }

    bool LoadNullSink() {
        const std::string load =
            std::string("pactl load-module module-null-sink sink_name=") + SinkName +
            " sink_properties=device.description=" + SinkDescription + " rate=48000 channels=2";
        if (Run(load))
            return true;
        Failure = "pipewire-pulse refused the null sink" + Tail("pipewire-pulse");
        return false;
    }

    TChild bus_, pipeWire_, pulse_, sessionManager_;
};

// A real PulseAudio daemon with a null sink, started from the folder scripts/setup unpacks the
// pulseaudio package into (it cannot be installed beside pipewire-alsa): its own socket in the
// runtime folder, no start-up script, never exiting when idle.
class TPulseAudioServer : public TSoundServer {
public:
    ~TPulseAudioServer() { Stop(); }

    // Where scripts/setup put the daemon: VARKO_PULSEAUDIO_DIR, or the folder it uses by default.
    static std::string Installation() {
        const char* dir = std::getenv("VARKO_PULSEAUDIO_DIR");
        return dir && *dir ? dir : VARKO_PULSEAUDIO_DIR;
    }

    bool Start() {
        const std::string root = Installation();
        const std::string daemon = root + "/usr/bin/pulseaudio";
        std::string modules;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root + "/usr/lib", error)) {
            if (entry.path().filename().string().starts_with("pulse-"))
                modules = (entry.path() / "modules").string();
        }
        if (access(daemon.c_str(), X_OK) != 0 || modules.empty()) {
            Failure = "no PulseAudio daemon in " + root + " (scripts/setup unpacks it there)";
            return false;
        }
        if (!MakeFolder("varko-pa"))
            return false;
        Socket = Folder + "/pulse/native";
        setenv("PULSE_SERVER", ("unix:" + Socket).c_str(), 1);
        // Not the caller's session bus: the daemon would register its name there.
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + Folder + "/no-bus").c_str(), 1);

        const std::string libraries = root + "/usr/lib/x86_64-linux-gnu/pulseaudio:" + modules;
        const auto limit = std::chrono::steady_clock::now() + StartLimit;
        const bool up =
            Launch(daemon_, "pulseaudio",
                   {"env", "LD_LIBRARY_PATH=" + libraries, daemon, "-n", "--daemonize=no",
                    "--exit-idle-time=-1", "--use-pid-file=no", "--system=no",
                    "--log-target=stderr", "--log-level=info", "--dl-search-path=" + modules,
                    "--load=module-native-protocol-unix auth-anonymous=1 socket=" + Socket,
                    std::string("--load=module-null-sink sink_name=") + SinkName +
                        " rate=48000 channels=2 sink_properties=device.description=" +
                        SinkDescription}) &&
            WaitFor(limit, "PulseAudio to answer", [] { return Run("pactl info"); }) &&
            WaitFor(limit, "the null sink to be the default", [] { return IsDefaultSink(); });
        if (!up) {
            keep_ = true;
            Stop();
        }
        return up;
    }

    void Stop() {
        Resume();
        daemon_.Stop();
        RemoveFolder();
    }
    // Freezes the daemon (as a machine under load or a debugger would) and lets it go on.
    void Pause() {
        if (daemon_.Running())
            kill(daemon_.Pid, SIGSTOP);
    }
    void Resume() {
        if (daemon_.Running())
            kill(daemon_.Pid, SIGCONT);
    }
    // Kills the daemon for good; its socket file stays, refusing connections.
    void Kill() {
        if (daemon_.Running()) {
            kill(daemon_.Pid, SIGKILL);
            waitpid(daemon_.Pid, nullptr, 0);
            daemon_.Pid = -1;
        }
    }

    std::string Socket;

private:
    TChild daemon_;
};

// Records the null sink's monitor (float stereo at 48 kHz) with parec, from Start to Stop.
class TSinkRecorder {
public:
    ~TSinkRecorder() { Stop(); }

    bool Start(const TSoundServer& server) {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        const bool started = parec_.Start({"parec", "--raw", "--format=float32le", "--rate=48000",
                                           "--channels=2", "--latency-msec=20",
                                           std::string("--device=") + server.SinkName + ".monitor"},
                                          server.LogFile("parec"), fds[1]);
        close(fds[1]);
        fd_ = fds[0];
        reader_ = std::thread([this] {
            float frame[512];
            size_t pending = 0;
            for (;;) {
                const ssize_t n =
                    read(fd_, reinterpret_cast<char*>(frame) + pending, sizeof frame - pending);
                if (n <= 0)
                    break;
                pending += static_cast<size_t>(n);
                const size_t whole = pending / (2 * sizeof(float));
                std::lock_guard lock(mutex_);
                for (size_t i = 0; i < whole; ++i) {
                    Left.push_back(frame[2 * i]);
                    Right.push_back(frame[2 * i + 1]);
                }
                const size_t used = whole * 2 * sizeof(float);
                std::memmove(frame, reinterpret_cast<char*>(frame) + used, pending - used);
                pending -= used;
            }
        });
        return started;
    }
    void Stop() {
        parec_.Stop();
        if (reader_.joinable())
            reader_.join();
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }
    size_t Frames() {
        std::lock_guard lock(mutex_);
        return Left.size();
    }

    std::vector<float> Left, Right; // read after Stop

private:
    TChild parec_;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
};

} // namespace varko::test
