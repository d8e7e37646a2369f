// A JACK server of the test's own (dummy back end, its own name, rate and period) and a
// capture client that records what reaches the server's playback ports.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varko::test {

class TJackServer {
public:
    TJackServer(std::string name, unsigned rate, unsigned period)
        : Name(std::move(name)), Rate(rate), Period(period) {}
    ~TJackServer() { Stop(); }

    // Starts jackd and waits until it takes clients; false when it does not come up. A long
    // client timeout lets clients of a loaded machine in. Real-time
    // scheduling keeps a busy machine from making the server late; without the right to it,
    // the server runs at normal priority.
    bool Start() {
        setenv("JACK_DEFAULT_SERVER", Name.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        return Launch(true) || Launch(false);
    }

    void Kill(int signal = SIGKILL) {
        if (pid_ <= 0)
            return;
        kill(pid_, signal);
        kill(pid_, SIGCONT); // a paused server hears the signal only once it runs
        for (int i = 0; i < 50; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void Stop() { Kill(SIGTERM); }
    // Freezes the server (as a machine under load or a debugger would) and lets it go on.
    void Pause() {
        if (pid_ > 0)
            kill(pid_, SIGSTOP);
    }
    void Resume() {
        if (pid_ > 0)
            kill(pid_, SIGCONT);
    }
    // Changes the running server's period with jack_bufsize; true when it took it.
    bool ChangePeriod(unsigned period) {
        const std::string command = "jack_bufsize " + std::to_string(period) + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return false;
        Period = period;
        return true;
    }

    const std::string Name;
    unsigned Rate, Period; // a restart takes new ones

private:
    bool Launch(bool realtime) {
        const std::string r = std::to_string(Rate), p = std::to_string(Period);
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a crashed test
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execlp("jackd", "jackd", realtime ? "--realtime" : "--no-realtime", "-t", "5000", "-n",
                   Name.c_str(), "-d", "dummy", "-r", r.c_str(), "-p", p.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0)
            return false;
        // A loaded machine can take many seconds to bring a server up.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < limit) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            jack_status_t status{};
            if (jack_client_t* c = jack_client_open("VarkoWait", JackNoStartServer, &status)) {
                // Ready once the back end's playback ports are there.
                const bool ready = jack_port_by_name(c, "system:playback_2") != nullptr;
                jack_client_close(c);
                if (ready) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        Kill(SIGKILL);
        return false;
    }

    pid_t pid_ = -1;
};

// Records two channels from whatever feeds system:playback_1 and _2, and counts xruns.
class TJackCapture {
public:
    explicit TJackCapture(size_t capacity) : Left(capacity), Right(capacity) {
        jack_status_t status{};
        client_ = jack_client_open("VarkoCapture", JackNoStartServer, &status);
        if (!client_)
            return;
        in_[0] = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        in_[1] = jack_port_register(client_, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &TJackCapture::Process, this);
        jack_set_xrun_callback(client_, &TJackCapture::XRun, this);
        jack_on_shutdown(client_, &TJackCapture::Shutdown, this);
        jack_activate(client_);
    }
    ~TJackCapture() {
        if (client_ && !Dead.load())
            jack_client_close(client_);
    }
    bool Ok() const { return client_ != nullptr; }

    // Connects to every port that feeds the playback ports; returns how many were found.
    int Connect() {
        int found = 0;
        for (int ch = 0; ch < 2; ++ch) {
            const std::string target = "system:playback_" + std::to_string(ch + 1);
            jack_port_t* port = jack_port_by_name(client_, target.c_str());
            if (!port)
                continue;
            if (const char** sources = jack_port_get_all_connections(client_, port)) {
                for (const char** s = sources; *s; ++s) {
                    if (jack_connect(client_, *s, jack_port_name(in_[ch])) == 0 ||
                        jack_port_connected_to(in_[ch], *s))
                        ++found;
                }
                jack_free(sources);
            }
        }
        return found;
    }

    // Starts a fresh recording of up to the capacity.
    void Record() {
        recording_.store(false);
        frames_.store(0);
        XRuns.store(0);
        recording_.store(true);
    }
    size_t Recorded() const { return frames_.load(); }

    std::vector<float> Left, Right;
    std::atomic<int> XRuns{0};
    std::atomic<bool> Dead{false};

private:
    static int Process(jack_nframes_t n, void* arg) {
        auto* self = static_cast<TJackCapture*>(arg);
        if (!self->recording_.load())
            return 0;
        const auto* l = static_cast<const float*>(jack_port_get_buffer(self->in_[0], n));
        const auto* r = static_cast<const float*>(jack_port_get_buffer(self->in_[1], n));
        size_t at = self->frames_.load();
        for (jack_nframes_t i = 0; i < n && at < self->Left.size(); ++i, ++at) {
            self->Left[at] = l[i];
            self->Right[at] = r[i];
        }
        self->frames_.store(at);
        return 0;
    }
    static int XRun(void* arg) {
        static_cast<TJackCapture*>(arg)->XRuns.fetch_add(1);
        return 0;
    }
    static void Shutdown(void* arg) { static_cast<TJackCapture*>(arg)->Dead.store(true); }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_[2] = {nullptr, nullptr};
    std::atomic<bool> recording_{false};
    std::atomic<size_t> frames_{0};
};

} // namespace varko::test
