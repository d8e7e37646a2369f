#include "tablet/Tablet.h"

#include <algorithm>
#include <cstring>

namespace varko {

namespace {

// Context status bit reported with the open and update messages.
constexpr int32_t CxsDisabled = 0x0001;

uint32_t CopyText(const std::string& text, void* output) {
    const auto bytes = static_cast<uint32_t>(text.size() + 1);
    if (output != nullptr) {
        std::memcpy(output, text.c_str(), bytes);
    }
    return bytes;
}

template <typename T> uint32_t CopyRecord(const T& record, void* output) {
    if (output != nullptr) {
        std::memcpy(output, &record, sizeof(T));
    }
    return sizeof(T);
}

} // namespace

// ---- TWintabService --------------------------------------------------------------------

uint32_t TWintabService::WTInfoA(uint32_t category, uint32_t index, void* output) const {
    if (!Available) {
        return 0;
    }
    if (category == 0) {
        return sizeof(LOGCONTEXTA); // size of the largest record: the service works
    }
    if (category == WTI_DEVICES && index == DVC_NAME) {
        return CopyText(DeviceName, output);
    }
    if (category == WTI_DEVICES && index == DVC_NPRESSURE) {
        return CopyRecord(PressureAxis, output);
    }
    if (category == WTI_INTERFACE && index == IFC_WINTABID) {
        return CopyText(WintabID, output);
    }
    if (category == WTI_STATUS && index == STA_PKTRATE) {
        return CopyRecord(PacketRate, output);
    }
    if (category == WTI_DEFCONTEXT && index == 0) {
        return CopyRecord(DefaultContext, output);
    }
    return 0;
}

TWintabService::Context* TWintabService::Find(HCTX handle) {
    for (Context& c : contexts_) {
        if (c.Handle == handle) {
            return &c;
        }
    }
    return nullptr;
}

const TWintabService::Context* TWintabService::Find(HCTX handle) const {
    for (const Context& c : contexts_) {
        if (c.Handle == handle) {
            return &c;
        }
    }
    return nullptr;
}

void TWintabService::Post(const Context& c, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (c.Window == nullptr) {
        return;
    }
    messages_.push_back({c.Window, c.Lc.lcMsgBase + message, wParam, lParam});
    if (!feeding_ && OnPost) {
        OnPost();
    }
}

void TWintabService::DeliverMessages() {
    while (!messages_.empty()) {
        const Message m = messages_.front();
        messages_.pop_front();
        m.Window->WindowProc(m.Number, m.WParam, m.LParam);
    }
}

HCTX TWintabService::WTOpenA(TCustomTablet* window, const LOGCONTEXTA& context, bool enable) {
    if (!Available || window == nullptr) {
        return 0;
    }
    Context c;
    c.Handle = nextHandle_++;
    c.Window = window;
    c.Lc = context;
    c.Enabled = enable;
    contexts_.push_back(c);
    Post(c, WT_CTXOPEN, c.Handle, enable ? 0 : CxsDisabled);
    return c.Handle;
}

bool TWintabService::WTGetA(HCTX context, LOGCONTEXTA& out) const {
    const Context* c = Find(context);
    if (c == nullptr) {
        return false;
    }
    out = c->Lc;
    return true;
}

bool TWintabService::WTClose(HCTX context) {
    const auto it = std::find_if(contexts_.begin(), contexts_.end(),
                                 [context](const Context& c) { return c.Handle == context; });
    if (it == contexts_.end()) {
        return false;
    }
    const Context closed = *it;
    contexts_.erase(it);
    Post(closed, WT_CTXCLOSE, closed.Handle, 0);
    return true;
}

bool TWintabService::WTPacket(HCTX context, uint32_t serial, void* buffer, size_t size) {
    Context* c = Find(context);
    if (c == nullptr) {
        return false;
    }
    const auto it = std::find_if(c->Queue.begin(), c->Queue.end(),
                                 [serial](const auto& q) { return q.first == serial; });
    if (it == c->Queue.end()) {
        return false;
    }
    if (buffer != nullptr) {
        std::memcpy(buffer, &it->second, std::min(size, sizeof(TPacket)));
    }
    c->Queue.erase(c->Queue.begin(), it + 1);
    return true;
}

bool TWintabService::WTEnable(HCTX context, bool enable) {
    Context* c = Find(context);
    if (c == nullptr) {
        return false;
    }
    c->Enabled = enable;
    if (!enable) {
        c->Queue.clear();
    }
    return true;
}

void TWintabService::QueueAndPost(const TPacket& packet, uint32_t message, uint32_t option) {
    feeding_ = true;
    for (Context& c : contexts_) {
        if (!c.Enabled || (c.Lc.lcOptions & option) == 0) {
            continue;
        }
        const uint32_t serial = c.NextSerial++;
        c.Queue.emplace_back(serial, packet);
        while (c.Queue.size() > std::max<size_t>(QueueSize, 1)) {
            c.Queue.pop_front();
        }
        Post(c, message, serial, static_cast<intptr_t>(c.Handle));
    }
    feeding_ = false;
    DeliverMessages();
}

void TWintabService::PenPacket(const TPacket& packet) {
    QueueAndPost(packet, WT_PACKET, CXO_MESSAGES);
}

void TWintabService::CursorChange(const TPacket& packet) {
    QueueAndPost(packet, WT_CSRCHANGE, CXO_CSRMESSAGES);
}

void TWintabService::PenProximity(bool entering) {
    feeding_ = true;
    // Low word: the pen entered the context; high word: it is within the tablet's range.
    const intptr_t lParam = entering ? 0x00010001 : 0;
    for (const Context& c : contexts_) {
        if (c.Enabled) {
            Post(c, WT_PROXIMITY, c.Handle, lParam);
        }
    }
    feeding_ = false;
    DeliverMessages();
}

void TWintabService::SetInputExtents(int32_t orgX, int32_t orgY, int32_t extX, int32_t extY) {
    feeding_ = true;
    DefaultContext.lcInOrgX = orgX;
    DefaultContext.lcInOrgY = orgY;
    DefaultContext.lcInExtX = extX;
    DefaultContext.lcInExtY = extY;
    for (Context& c : contexts_) {
        if (c.Lc.lcInOrgX == orgX && c.Lc.lcInOrgY == orgY && c.Lc.lcInExtX == extX &&
            c.Lc.lcInExtY == extY) {
            continue;
        }
        c.Lc.lcInOrgX = orgX;
        c.Lc.lcInOrgY = orgY;
        c.Lc.lcInExtX = extX;
        c.Lc.lcInExtY = extY;
        Post(c, WT_CTXUPDATE, c.Handle, c.Enabled ? 0 : CxsDisabled);
    }
    feeding_ = false;
    DeliverMessages();
}

void TWintabService::WindowDestroyed(const TCustomTablet* window) {
    for (Context& c : contexts_) {
        if (c.Window == window) {
            c.Window = nullptr;
            c.Enabled = false;
            c.Queue.clear();
        }
    }
    std::erase_if(messages_, [window](const Message& m) { return m.Window == window; });
}

// ---- TCustomTablet ---------------------------------------------------------------------

TCustomTablet::TCustomTablet(TWintabService* service) {
    packet_.assign(sizeof(TPacket) + 1, 0);
    if (service == nullptr) {
        return;
    }
    if (service->WTInfoA(0, 0, nullptr) == 0) {
        return;
    }
    service_ = service;
    present_ = true;
}

TCustomTablet::~TCustomTablet() {
    if (service_ != nullptr) {
        service_->WindowDestroyed(this);
    }
}

void TCustomTablet::SetPacketSize(uint8_t size) {
    packetSize_ = size;
    // Never smaller than the program's packet, so a handler reading one stays in bounds.
    packet_.assign(std::max<size_t>(size, sizeof(TPacket)) + 1, 0);
}

bool TCustomTablet::GetDefaultContext(LOGCONTEXTA& context) const {
    if (service_ == nullptr) {
        return false;
    }
    return service_->WTInfoA(WTI_DEFCONTEXT, 0, &context) != 0;
}

intptr_t TCustomTablet::WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const uint32_t m = message - WT_DEFBASE;
    const auto handle = static_cast<HCTX>(lParam);
    switch (m) {
    case WT_PACKET:
    case WT_CSRCHANGE: {
        TPacketEvent& event = m == WT_PACKET ? OnPacket : OnCursorChanged;
        if (event && service_ != nullptr &&
            service_->WTPacket(handle, static_cast<uint32_t>(wParam), packet_.data(),
                               packetSize_)) {
            event(this, static_cast<uint32_t>(wParam), handle, packet_.data());
        }
        return 0;
    }
    case WT_CTXOPEN:
    case WT_CTXCLOSE:
    case WT_CTXUPDATE:
    case WT_CTXOVERLAP: {
        const TContextEvent& event = m == WT_CTXOPEN     ? OnContextOpen
                                     : m == WT_CTXCLOSE  ? OnContextClose
                                     : m == WT_CTXUPDATE ? OnContextUpdate
                                                         : OnContextOverlap;
        if (event) {
            event(this, static_cast<int32_t>(wParam), static_cast<int32_t>(lParam));
        }
        return 0;
    }
    case WT_PROXIMITY:
        if (OnProximity) {
            OnProximity(this, static_cast<HCTX>(wParam), (lParam & 0xFFFF) != 0);
        }
        return 0;
    case WT_INFOCHANGE:
        if (OnInfoChanged) {
            OnInfoChanged(this, static_cast<uint32_t>(wParam),
                          static_cast<uint16_t>(lParam & 0xFFFF),
                          static_cast<uint16_t>((lParam >> 16) & 0xFFFF));
        }
        return 0;
    default:
        return 0; // not ours: the default window procedure answers 0
    }
}

// ---- TTablet ---------------------------------------------------------------------------

void TTablet::SetEnabled(bool value) {
    if (!present_) {
        return;
    }
    enabled_ = value;
    if (context_ != 0) {
        service_->WTEnable(context_, value);
    }
}

void TTablet::Open(LOGCONTEXTA context) {
    if (!present_) {
        return;
    }
    context_ = service_->WTOpenA(this, context, enabled_);
}

void TTablet::Close() {
    if (present_ && context_ != 0) {
        service_->WTClose(context_);
    }
}

void TTablet::GetContext(LOGCONTEXTA& context) const {
    if (present_ && context_ != 0) {
        service_->WTGetA(context_, context);
    }
}

void TTablet::GetPressureAxis(AXIS& axis) const {
    axis = AXIS{};
    if (present_) {
        service_->WTInfoA(WTI_DEVICES, DVC_NPRESSURE, &axis);
    }
    // A zero (or negative) maximum would make the pressure scale 1 / axMax infinite.
    axis.axMax = std::max(axis.axMax, 1);
}

std::string TTablet::DeviceName() const {
    if (!present_) {
        return {};
    }
    const uint32_t size = service_->WTInfoA(WTI_DEVICES, DVC_NAME, nullptr);
    if (size == 0) {
        return {};
    }
    std::vector<char> text(size + 1, '\0');
    service_->WTInfoA(WTI_DEVICES, DVC_NAME, text.data());
    return std::string(text.data());
}

std::string TTablet::WintabID() const {
    if (!present_) {
        return {};
    }
    const uint32_t size = service_->WTInfoA(WTI_INTERFACE, IFC_WINTABID, nullptr);
    if (size == 0) {
        return {};
    }
    std::vector<char> text(size + 1, '\0');
    service_->WTInfoA(WTI_INTERFACE, IFC_WINTABID, text.data());
    return std::string(text.data());
}

int32_t TTablet::PacketRate() const {
    int32_t rate = 0;
    if (present_) {
        service_->WTInfoA(WTI_STATUS, STA_PKTRATE, &rate);
    }
    return rate;
}

LOGCONTEXTA MakeVarkoContext(const LOGCONTEXTA& defaults) {
    LOGCONTEXTA c = defaults;
    c.lcOptions |= CXO_SYSTEM | CXO_MESSAGES | CXO_CSRMESSAGES;
    c.lcPktData = VarkoPacketData;
    c.lcBtnDnMask = 7;
    c.lcBtnUpMask = 7;
    c.lcMsgBase = WT_DEFBASE;
    return c;
}

bool OpenVarkoContext(TTablet& tablet) {
    LOGCONTEXTA defaults;
    if (!tablet.Present() || !tablet.GetDefaultContext(defaults)) {
        return false;
    }
    tablet.SetPacketSize(sizeof(TPacket));
    tablet.SetEnabled(true);
    tablet.Open(MakeVarkoContext(defaults));
    return true;
}

} // namespace varko
