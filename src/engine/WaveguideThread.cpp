#include "engine/WaveguideThread.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cxxabi.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <typeinfo>

namespace varko {

namespace {

constexpr int32_t MaxBlockSize = 65536;

int32_t RoundHalfEven(double v) {
    return static_cast<int32_t>(std::nearbyint(v));
}

std::string Demangle(const char* name) {
    int status = 0;
    char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && text ? text : name;
    std::free(text);
    return result;
}

void SetThreadName(float Frequency) {
    char name[64] = "Osc-";
    auto [end, ec] = std::to_chars(name + 4, name + sizeof(name) - 1,
                                   static_cast<double>(Frequency), std::chars_format::general, 15);
    *end = '\0';
    name[15] = '\0'; // the kernel keeps 15 characters
    pthread_setname_np(pthread_self(), name);
}

void RaisePriority() {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
        return;
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0) {
        param.sched_priority = static_cast<int>(
            std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(param.sched_priority)));
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); // normal priority if refused
    }
}

} // namespace

void TWaveguideBands::Build(float Frequency, float SampleRate, int32_t EndType, bool Interpolate,
                            const std::vector<float>& Ratios, const std::vector<float>& Gains,
                            float Resonance, uint32_t Seed) {
    NoiseSeed = Seed;
    switch (EndType) {
    case 2:
        P0 = 1.0f;
        W = 0.75f;
        break;
    case 3:
        P0 = 0.5f;
        W = 0.5f;
        break;
    default:
        P0 = 0.5f;
        W = 0.0f;
        break;
    }
    L = Lt = dL = 0.0f;
    E = Et = dE = 0.0f;
    nL = nE = 0;
    G = false;
    const bool rateOk = SampleRate > 0.0f && SampleRate <= MaxSampleRate;
    R = rateOk ? std::max(1, RoundHalfEven(SampleRate / 93.75)) : 1;
    NE = rateOk ? std::max(2, RoundHalfEven(SampleRate / 5.859375)) : 2;
    rR = static_cast<float>(1.0 / R);
    rE = static_cast<float>(1.0 / (NE / 2.0));

    Filters.clear();
    Delays.clear();
    Quiet.clear();
    BandGains.clear();
    const size_t count = std::min(Ratios.size(), Gains.size());
    if (rateOk) {
        Filters.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const float fm = Ratios[i] * Frequency;
            if (fm > SampleRate / 2.0f) {
                break; // the band list ends at the first mode above half the rate
            }
            if (!(fm > 0.0f) || !std::isfinite(fm)) {
                continue;
            }
            const float length = SampleRate / fm;
            if (!(length <= SampleRate * MaxDelaySeconds)) {
                continue; // memory stays bounded whatever the frequency
            }
            if (Interpolate) {
                Delays.push_back(std::make_unique<TWaveguideInterpolatedDelay>(length));
            } else {
                Delays.push_back(std::make_unique<TWaveguideDelay>(RoundHalfEven(length)));
            }
            Delays.back()->Feedback = Resonance;
            Filters.emplace_back();
            Filters.back().SetParams(fm, SampleRate, 4.0f);
            Quiet.push_back(0);
            BandGains.push_back(Gains[i]);
        }
    }
    X0Buf.assign(MaxChunk, 0.0f);
    FbBuf.assign(MaxChunk, 0.0f);
    BandBuf.assign(MaxChunk, 0.0f);
    BandBuf2.assign(MaxChunk, 0.0f);
    Zeros.assign(MaxChunk, 0.0f);
}

bool TWaveguideBands::Excite(const TWaveguidePlaying& In, float* X0, float* Feedback, int n) {
    bool any = false;
    const float halfNE = static_cast<float>(NE) / 2.0f;
    for (int i = 0; i < n; ++i) {
        const float pressure = In.Pressure.load(std::memory_order_relaxed);
        const float speed = std::fabs(In.Speed.load(std::memory_order_relaxed));
        const float strike = In.StrikePosition.load(std::memory_order_relaxed);
        const float resonance = In.Resonance.load(std::memory_order_relaxed);
        if (Lt != pressure) {
            Lt = pressure;
            dL = (Lt - L) * rR;
            nL = 0;
        }
        if (L != Lt) {
            if (nL >= R) {
                L = Lt;
            } else {
                L = L + dL;
                ++nL;
            }
        }
        if (speed != Et) {
            Et = speed;
            dE = (Et - E) * rE;
            nE = 0;
            G = false;
        }
        const double u = NextNoise();
        const double noise = (2.0 * u - 1.0) * L * E;
        const float distance = std::fabs(strike - P0) * W;
        const float x0 = static_cast<float>((1.0f - distance) * noise);
        X0[i] = x0;
        any = any || x0 != 0.0f;
        Feedback[i] = (1.0f - distance * 0.01f * L) * ((1.0f - L / 100.0f) * resonance);
        if (static_cast<float>(nE) < halfNE) {
            E = E + dE;
            ++nE;
        } else {
            if (!G) {
                dE = E * rE;
                G = true;
            }
            if (nE == NE - 1) {
                E = 0.0f;
                ++nE;
            }
            if (nE < NE) {
                E = E - dE;
                ++nE;
            }
        }
    }
    return any;
}

void TWaveguideBands::RenderBlock(const TWaveguidePlaying& In, float* Out, int n) {
    for (int done = 0; done < n;) {
        const int m = std::min(n - done, MaxChunk);
        float* out = Out + done;
        std::fill(out, out + m, 0.0f);
        const bool excited = Excite(In, X0Buf.data(), FbBuf.data(), m);
        const size_t bands = Filters.size();
        const auto quiet = [this, excited](size_t b) {
            return !excited && Quiet[b] >= TWaveguideBPFilter4p::QuietLimit;
        };
        size_t b = 0;
        // Bands in pairs, two filters at once; then each band's line adds into the output in
        // band order.
        for (; b + 1 < bands; b += 2) {
            const float* inputA = Zeros.data();
            const float* inputB = Zeros.data();
            if (!quiet(b) || !quiet(b + 1)) {
                TWaveguideBPFilter4p::TickBlockPair(
                    Filters[b], Filters[b + 1], X0Buf.data(), BandGains[b], BandGains[b + 1],
                    Quiet[b], Quiet[b + 1], BandBuf.data(), BandBuf2.data(), m);
                inputA = BandBuf.data();
                inputB = BandBuf2.data();
            }
            Delays[b]->TickBlock(inputA, FbBuf.data(), out, m);
            Delays[b + 1]->TickBlock(inputB, FbBuf.data(), out, m);
        }
        for (; b < bands; ++b) {
            const float* input = Zeros.data();
            if (!quiet(b)) {
                Filters[b].TickBlock(X0Buf.data(), BandGains[b], Quiet[b], BandBuf.data(), m);
                input = BandBuf.data();
            }
            Delays[b]->TickBlock(input, FbBuf.data(), out, m);
        }
        done += m;
    }
}

TWaveguideThread::TWaveguideThread() = default;

TWaveguideThread::~TWaveguideThread() {
    Terminate();
    Join();
}

void TWaveguideThread::Start() {
    if (Started || Terminated()) {
        return;
    }
    Started = true;
    PhaseState.store(Rendering, std::memory_order_relaxed);
    Worker = std::thread([this] { Run(); });
}

TWaveguideThread::TReadyResult TWaveguideThread::WaitReady() {
    if (!Started) {
        return TReadyResult::Ended;
    }
    SetupState.wait(0, std::memory_order_acquire);
    return SetupState.load(std::memory_order_acquire) == 1 ? TReadyResult::Ready
                                                           : TReadyResult::Ended;
}

void TWaveguideThread::Release() {
    int32_t phase = PhaseState.load(std::memory_order_relaxed);
    // Only a waiting thread is woken: a release during rendering is not remembered.
    if ((phase == 0 || phase == 1) &&
        PhaseState.compare_exchange_strong(phase, Rendering, std::memory_order_acq_rel)) {
        Wake.release();
    }
}

void TWaveguideThread::Terminate() {
    if (TerminateRequested.exchange(true)) {
        return;
    }
    // Unconditional, so that a thread about to wait cannot miss it.
    Wake.release();
}

void TWaveguideThread::Join() {
    if (Worker.joinable()) {
        Worker.join();
    }
}

void TWaveguideThread::WaitBlockDone() const {
    while (PhaseState.load(std::memory_order_acquire) == Rendering) {
        PhaseState.wait(Rendering, std::memory_order_acquire);
    }
}

std::string TWaveguideThread::CrashText() const {
    return ExceptionClassName + "@TWaveguideThread: " + ExceptionMessage;
}

void TWaveguideThread::BuildBands(uint32_t ASeed) {
    Bands.Build(Frequency, SampleRate, EndType, Interpolate, Ratios, Gains,
                Resonance.load(std::memory_order_relaxed), ASeed);
}

void TWaveguideThread::RenderBlock(float* Out, int n) {
    Bands.RenderBlock(*this, Out, n);
}

void TWaveguideThread::Run() {
    try {
        SetThreadName(Frequency);
        if (TimeCritical) {
            RaisePriority();
        }
        SetFlushDenormals();
        const uint32_t seed =
            Seed ? *Seed
                 : static_cast<uint32_t>(
                       std::chrono::steady_clock::now().time_since_epoch().count());
        const int32_t block = BlockSize >= 1 && BlockSize <= MaxBlockSize ? BlockSize : 0;
        Output[0].assign(static_cast<size_t>(block), 0.0f);
        Output[1].assign(static_cast<size_t>(block), 0.0f);
        BuildBands(seed);
        NoModes.store(Bands.BandCount() == 0);
        Ready.store(true);
        SetupState.store(1, std::memory_order_release);
        SetupState.notify_all();

        while (!Terminated()) {
            const int32_t index = WriteIndex.load(std::memory_order_relaxed) & 1;
            RenderBlock(Output[index].data(), block);
            if (Terminated()) {
                break;
            }
            PhaseState.store(index, std::memory_order_release);
            PhaseState.notify_all();
            Wake.acquire();
        }
    } catch (const std::exception& e) {
        FatalException = std::current_exception();
        ExceptionClassName = Demangle(typeid(e).name());
        ExceptionMessage = e.what();
    } catch (...) {
        FatalException = std::current_exception();
        const std::type_info* type = abi::__cxa_current_exception_type();
        ExceptionClassName = type ? Demangle(type->name()) : "unknown";
    }
    PhaseState.store(Ended, std::memory_order_release);
    PhaseState.notify_all();
    if (SetupState.load(std::memory_order_relaxed) == 0) {
        SetupState.store(2, std::memory_order_release);
        SetupState.notify_all();
    }
    if (OnTerminate) {
        OnTerminate(*this);
    }
    FinishedFlag.store(true, std::memory_order_release);
}

} // namespace varko
