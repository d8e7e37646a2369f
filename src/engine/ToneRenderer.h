// How the tones of a bank are rendered: a thread per tone, a pool of one thread per processor
// core, or inline on the mixer's own thread. Every renderer gives the same samples, bit for bit;
// they differ in who does the work and how it is woken.
#pragma once

#include "engine/Tone.h"

#include <memory>

namespace varko {

enum class TToneThreads : int32_t {
    PerTone, // a time-critical thread per tone, woken by the mixer (the window's default)
    PerCore, // a pool of real-time threads, each woken once per block, sharing the tones
    Inline,  // the mixer's caller renders every tone itself (render tool, plugin hosts)
};

struct TToneRendering {
    TToneThreads Threads = TToneThreads::PerTone;
    int PoolThreads = 0;       // PerCore: threads in the pool; 0 or less: one per processor core
    bool TimeCritical = false; // the renderer's threads at real-time priority where allowed
};

// The pool's thread count for a setting: at least 1; 0 or less means one per processor core.
int PoolThreadCount(int setting);

class IToneRenderer {
public:
    virtual ~IToneRenderer() = default;

    // Owner's thread, while no block is mixed (engine stopped): builds the tone, on the thread
    // that will render it, and renders its first block into Output[WriteIndex]. False when
    // building failed (the tone is Ended; its FatalException says why). The tone must outlive
    // the renderer.
    virtual bool Add(TTone& tone) = 0;
    // Mixer's thread, after a mix that set every tone's WriteIndex: each tone whose block is
    // written renders its next one. Never waits, locks or allocates.
    virtual void Release() = 0;
    // Owner's thread: asks every thread to end; a block being rendered is finished. Does not
    // wait. Tones still owed a block end (Ended).
    virtual void Stop() = 0;
    // Whether every thread of the renderer has ended (after Stop).
    virtual bool Finished() const = 0;
    // Blocks until no tone is owed a block (offline driving).
    virtual void WaitIdle() = 0;
};

std::unique_ptr<IToneRenderer> MakeToneRenderer(const TToneRendering& how);

} // namespace varko
