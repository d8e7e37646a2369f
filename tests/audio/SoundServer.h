// A PipeWire sound server of the test's own, as Debian's desktop runs it: pipewire, wireplumber
// (on a session bus of its own) and pipewire-pulse, in a runtime folder and a HOME of their
// own, with a null sink that is the default output. ALSA's default is routed through it by an
// asoundrc in that HOME, and the sink's monitor can be recorded with parec.
#pragma once

#include <alsa/asoundlib.h>

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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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
            _exit(127);
        }
        return Pid > 0;
    }
    bool Running() { return Pid > 0 && waitpid(Pid, nullptr, WNOHANG) == 0; }
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

class TPipeWireServer {
public:
    static constexpr const char* SinkName = "varko_null";
    static constexpr const char* SinkDescription = "VarkoNull";

    ~TPipeWireServer() { Stop(); }

    // Starts the servers and waits until the null sink is the default; false when they do not
    // come up (the log names why).
    bool Start() {
        char folder[] = "/tmp/varko-pw-XXXXXX";
        if (!mkdtemp(folder))
            return false;
        Folder = folder;
        Log = Folder + "/servers.log";
        setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
        setenv("HOME", Folder.c_str(), 1);
        const std::string bus = "unix:path=" + Folder + "/bus";
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        for (const char* v : {"PULSE_SERVER", "PIPEWIRE_REMOTE", "PULSE_SINK", "ALSA_CONFIG_PATH"})
            unsetenv(v);
        UseAlsaConfig("pcm.!default { type pulse }\nctl.!default { type pulse }\n");

        if (!Bus.Start({"dbus-daemon", "--session", "--nofork", "--address=" + bus}, Log) ||
            !WaitFor([&] { return std::filesystem::exists(Folder + "/bus"); }))
            return false;
        if (!PipeWire.Start({"pipewire"}, Log) ||
            !WaitFor([&] { return std::filesystem::exists(Folder + "/pipewire-0"); }))
            return false;
        if (!Pulse.Start({"pipewire-pulse"}, Log) || !SessionManager.Start({"wireplumber"}, Log))
            return false;
        if (!WaitFor([] { return Run("pactl info"); }))
            return false;
        const std::string load = std::string("pactl load-module module-null-sink sink_name=") +
                                 SinkName + " sink_properties=device.description=" +
                                 SinkDescription + " rate=48000 channels=2";
        if (!Run(load))
            return false;
        return WaitFor([] {
            return Run(std::string("pactl info | grep -q 'Default Sink: ") + SinkName + "$'");
        });
    }

    void Stop() {
        SessionManager.Stop();
        Pulse.Stop();
        PipeWire.Stop();
        Bus.Stop();
        if (!Folder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(Folder, ignored);
            Folder.clear();
        }
    }

    // Makes text the asoundrc in the server's HOME; ALSA reads it at its next open.
    void UseAlsaConfig(const std::string& text) const {
        std::ofstream(Folder + "/.asoundrc") << text;
        snd_config_update_free_global();
    }

    std::string Folder, Log;

private:
    template <typename F> static bool WaitFor(F ready) {
        for (int i = 0; i < 200; ++i) {
            if (ready())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    TChild Bus, PipeWire, Pulse, SessionManager;
};

// Records the null sink's monitor (float stereo at 48 kHz) with parec, from Start to Stop.
class TSinkRecorder {
public:
    ~TSinkRecorder() { Stop(); }

    bool Start(const TPipeWireServer& server) {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        const bool started = Parec.Start({"parec", "--raw", "--format=float32le", "--rate=48000",
                                          "--channels=2", "--latency-msec=20",
                                          std::string("--device=") + server.SinkName + ".monitor"},
                                         server.Log, fds[1]);
        close(fds[1]);
        Fd = fds[0];
        Reader = std::thread([this] {
            float frame[512];
            size_t pending = 0;
            for (;;) {
                const ssize_t n =
                    read(Fd, reinterpret_cast<char*>(frame) + pending, sizeof frame - pending);
                if (n <= 0)
                    break;
                pending += static_cast<size_t>(n);
                const size_t whole = pending / (2 * sizeof(float));
                std::lock_guard lock(Mutex);
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
        Parec.Stop();
        if (Reader.joinable())
            Reader.join();
        if (Fd >= 0)
            close(Fd);
        Fd = -1;
    }
    size_t Frames() {
        std::lock_guard lock(Mutex);
        return Left.size();
    }

    std::vector<float> Left, Right; // read after Stop

private:
    TChild Parec;
    int Fd = -1;
    std::thread Reader;
    std::mutex Mutex;
};

} // namespace varko::test
