// The tablet component: one logical tablet context, packets and proximity as events.
//
// Wintab does not exist on Linux. TWintabService stands in for the driver library with the
// same calls and messages; the window system's pen events feed it (the Qt adapter in ui/,
// or a test). Everything runs on the GUI thread. Messages are posted to a queue: the feeding
// calls deliver them before they return, as the message loop would; messages posted by the
// component's own calls (a context opened) wait for DeliverMessages, which OnPost lets the
// platform schedule.
#pragma once

#include "core/PlayingLimits.h"
#include "tablet/WintabConsts.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace varko {

class TCustomTablet;

// The tablet driver as the component sees it.
class TWintabService {
public:
    // What the feeding side reports about the device.
    bool Available = false; // a pen device exists (WTInfoA(0, 0) is non-zero)
    std::string DeviceName; // DVC_NAME
    std::string WintabID = "Varko pen service";
    AXIS PressureAxis{0, DefaultPressureMax, 0, 0};
    int32_t PacketRate = 0;
    LOGCONTEXTA DefaultContext; // WTI_DEFCONTEXT; set its input extents from the desktop
    size_t QueueSize = 64;      // packets kept per context; older ones are dropped

    // Wintab calls. WTInfoA returns the bytes written (or needed when output is null).
    uint32_t WTInfoA(uint32_t category, uint32_t index, void* output) const;
    HCTX WTOpenA(TCustomTablet* window, const LOGCONTEXTA& context, bool enable);
    bool WTGetA(HCTX context, LOGCONTEXTA& out) const;
    bool WTClose(HCTX context);
    // Copies the packet with this serial number (at most size bytes) and drops it and every
    // older one.
    bool WTPacket(HCTX context, uint32_t serial, void* buffer, size_t size);
    bool WTEnable(HCTX context, bool enable);

    // Feeding: a pen report, queued on every enabled context that asked for messages.
    void PenPacket(const TPacket& packet);
    // The pen came into or left the tablet's range.
    void PenProximity(bool entering);
    // The pen (cursor) changed; delivered like a packet to contexts with CXO_CSRMESSAGES.
    void CursorChange(const TPacket& packet);
    // The input area changed (desktop resized): open contexts follow and are told.
    void SetInputExtents(int32_t orgX, int32_t orgY, int32_t extX, int32_t extY);

    // The component's window is gone: messages for it are dropped from now on.
    void WindowDestroyed(const TCustomTablet* window);

    // Runs every queued message through its window's procedure.
    void DeliverMessages();
    // Called when a message was queued outside a feeding call; the platform schedules
    // DeliverMessages on its event loop.
    std::function<void()> OnPost;

    size_t OpenContextCount() const { return contexts_.size(); }

private:
    struct Context {
        HCTX Handle = 0;
        TCustomTablet* Window = nullptr;
        LOGCONTEXTA Lc;
        bool Enabled = false;
        uint32_t NextSerial = 1;
        std::deque<std::pair<uint32_t, TPacket>> Queue;
    };
    struct Message {
        TCustomTablet* Window = nullptr;
        uint32_t Number = 0;
        uintptr_t WParam = 0;
        intptr_t LParam = 0;
    };
    Context* Find(HCTX handle);
    const Context* Find(HCTX handle) const;
    void Post(const Context& c, uint32_t message, uintptr_t wParam, intptr_t lParam);
    void QueueAndPost(const TPacket& packet, uint32_t message, uint32_t option);

    std::vector<Context> contexts_;
    std::deque<Message> messages_;
    HCTX nextHandle_ = 1;
    bool feeding_ = false;
};

using TPacketEvent = std::function<void(TCustomTablet* sender, uint32_t packetNumber,
                                        HCTX contextHandle, const void* pPacket)>;
using TProximityEvent =
    std::function<void(TCustomTablet* sender, HCTX contextHandle, bool entering)>;
using TInfoChangedEvent =
    std::function<void(TCustomTablet* sender, uint32_t manager, uint16_t category, uint16_t index)>;
using TContextEvent =
    std::function<void(TCustomTablet* sender, int32_t contextHandle, int32_t statusFlags)>;

class TCustomTablet {
public:
    // service null: no driver on this machine (Present stays false).
    explicit TCustomTablet(TWintabService* service);
    virtual ~TCustomTablet();
    TCustomTablet(const TCustomTablet&) = delete;
    TCustomTablet& operator=(const TCustomTablet&) = delete;

    TPacketEvent OnPacket;
    TPacketEvent OnCursorChanged;
    TProximityEvent OnProximity;
    TInfoChangedEvent OnInfoChanged;
    TContextEvent OnContextOpen;
    TContextEvent OnContextClose;
    TContextEvent OnContextOverlap;
    TContextEvent OnContextUpdate;

    bool Present() const { return present_; }
    uint8_t PacketSize() const { return packetSize_; }
    // Works whether or not a tablet is present.
    void SetPacketSize(uint8_t size);

    // WTI_DEFCONTEXT; false (record untouched) when not present.
    bool GetDefaultContext(LOGCONTEXTA& context) const;

    // The hidden window's procedure: the eight Wintab messages become events.
    intptr_t WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

protected:
    TWintabService* service_ = nullptr; // null when not present
    bool present_ = false;
    uint8_t packetSize_ = 0;
    std::vector<uint8_t> packet_; // packet size + 1 bytes
};

class TTablet : public TCustomTablet {
public:
    using TCustomTablet::TCustomTablet;

    bool Enabled() const { return enabled_; }
    // Ignored when no tablet is present.
    void SetEnabled(bool value);
    // Opens a context (an earlier one is not closed); the handle is 0 on failure.
    void Open(LOGCONTEXTA context);
    void Close();
    // Fills the record from the open context; leaves it untouched when there is none.
    void GetContext(LOGCONTEXTA& context) const;
    // The pen's pressure range. axMax is never below 1, so 1 / axMax is always finite.
    void GetPressureAxis(AXIS& axis) const;
    std::string DeviceName() const;
    std::string WintabID() const;
    int32_t PacketRate() const;
    HCTX ContextHandle() const { return context_; }

private:
    HCTX context_ = 0;
    bool enabled_ = false;
};

// The program's context made from the driver's default one: system cursor, packet and cursor
// messages, the 32-byte packet, buttons 0..2 reported both ways, message base WT_DEFBASE.
LOGCONTEXTA MakeVarkoContext(const LOGCONTEXTA& defaults);

// Opens the program's context on a present tablet (packet size, enable, open).
// Returns false when no tablet is present.
bool OpenVarkoContext(TTablet& tablet);

} // namespace varko
