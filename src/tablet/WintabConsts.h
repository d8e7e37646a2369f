// Records and constants of the Wintab tablet interface, kept byte for byte so that the
// tablet component's context and packets read as on any Wintab system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varko {
// NOLINTBEGIN(readability-identifier-naming): Wintab's own names

using HCTX = uint32_t; // context handle, 0 = none
using WTPKT = uint32_t;
using FIX32 = uint32_t;

// Message numbers (relative to the context's message base).
inline constexpr uint32_t WT_DEFBASE = 0x7FF0;
inline constexpr uint32_t WT_PACKET = 0;
inline constexpr uint32_t WT_CTXOPEN = 1;
inline constexpr uint32_t WT_CTXCLOSE = 2;
inline constexpr uint32_t WT_CTXUPDATE = 3;
inline constexpr uint32_t WT_CTXOVERLAP = 4;
inline constexpr uint32_t WT_PROXIMITY = 5;
inline constexpr uint32_t WT_INFOCHANGE = 6;
inline constexpr uint32_t WT_CSRCHANGE = 7;

// Context options.
inline constexpr uint32_t CXO_SYSTEM = 0x0001;
inline constexpr uint32_t CXO_PEN = 0x0002;
inline constexpr uint32_t CXO_MESSAGES = 0x0004;
inline constexpr uint32_t CXO_CSRMESSAGES = 0x0008;

// Packet data bits.
inline constexpr WTPKT PK_CONTEXT = 0x0001;
inline constexpr WTPKT PK_STATUS = 0x0002;
inline constexpr WTPKT PK_TIME = 0x0004;
inline constexpr WTPKT PK_CHANGED = 0x0008;
inline constexpr WTPKT PK_SERIAL_NUMBER = 0x0010;
inline constexpr WTPKT PK_CURSOR = 0x0020;
inline constexpr WTPKT PK_BUTTONS = 0x0040;
inline constexpr WTPKT PK_X = 0x0080;
inline constexpr WTPKT PK_Y = 0x0100;
inline constexpr WTPKT PK_Z = 0x0200;
inline constexpr WTPKT PK_NORMAL_PRESSURE = 0x0400;
inline constexpr WTPKT PK_TANGENT_PRESSURE = 0x0800;
inline constexpr WTPKT PK_ORIENTATION = 0x1000;
inline constexpr WTPKT PK_ROTATION = 0x2000;

// The packet the program asks for: cursor, buttons, X, Y, normal pressure, orientation.
inline constexpr WTPKT VarkoPacketData =
    PK_CURSOR | PK_BUTTONS | PK_X | PK_Y | PK_NORMAL_PRESSURE | PK_ORIENTATION;
static_assert(VarkoPacketData == 0x15E0);

// Information categories and indices.
inline constexpr uint32_t WTI_INTERFACE = 1;
inline constexpr uint32_t IFC_WINTABID = 1;
inline constexpr uint32_t WTI_STATUS = 2;
inline constexpr uint32_t STA_PKTRATE = 3;
inline constexpr uint32_t WTI_DEFCONTEXT = 3;
inline constexpr uint32_t WTI_DEVICES = 100;
inline constexpr uint32_t DVC_NAME = 1;
inline constexpr uint32_t DVC_NPRESSURE = 15;

inline constexpr int LCNAMELEN = 40;

struct LOGCONTEXTA {
    char lcName[LCNAMELEN] = {};
    uint32_t lcOptions = 0;
    uint32_t lcStatus = 0;
    uint32_t lcLocks = 0;
    uint32_t lcMsgBase = 0;
    uint32_t lcDevice = 0;
    uint32_t lcPktRate = 0;
    WTPKT lcPktData = 0;
    WTPKT lcPktMode = 0;
    WTPKT lcMoveMask = 0;
    uint32_t lcBtnDnMask = 0;
    uint32_t lcBtnUpMask = 0;
    int32_t lcInOrgX = 0;
    int32_t lcInOrgY = 0;
    int32_t lcInOrgZ = 0;
    int32_t lcInExtX = 0;
    int32_t lcInExtY = 0;
    int32_t lcInExtZ = 0;
    int32_t lcOutOrgX = 0;
    int32_t lcOutOrgY = 0;
    int32_t lcOutOrgZ = 0;
    int32_t lcOutExtX = 0;
    int32_t lcOutExtY = 0;
    int32_t lcOutExtZ = 0;
    FIX32 lcSensX = 0;
    FIX32 lcSensY = 0;
    FIX32 lcSensZ = 0;
    int32_t lcSysMode = 0;
    int32_t lcSysOrgX = 0;
    int32_t lcSysOrgY = 0;
    int32_t lcSysExtX = 0;
    int32_t lcSysExtY = 0;
    FIX32 lcSysSensX = 0;
    FIX32 lcSysSensY = 0;
};
static_assert(sizeof(LOGCONTEXTA) == 172);

struct AXIS {
    int32_t axMin = 0;
    int32_t axMax = 0;
    uint32_t axUnits = 0;
    FIX32 axResolution = 0;
};
static_assert(sizeof(AXIS) == 16);

struct ORIENTATION {
    int32_t orAzimuth = 0;  // tenths of a degree, clockwise from north
    int32_t orAltitude = 0; // tenths of a degree above the tablet
    int32_t orTwist = 0;    // tenths of a degree
};

// The program's packet (mask 0x15E0): fields in Wintab's order for the requested bits.
struct TPacket {
    uint32_t pkCursor = 0;
    uint32_t pkButtons = 0;
    int32_t pkX = 0;
    int32_t pkY = 0;
    uint32_t pkNormalPressure = 0;
    ORIENTATION pkOrientation;
};
static_assert(sizeof(TPacket) == 32);
static_assert(offsetof(TPacket, pkX) == 8);
static_assert(offsetof(TPacket, pkY) == 12);
static_assert(offsetof(TPacket, pkNormalPressure) == 16);
static_assert(offsetof(TPacket, pkOrientation) == 20);

// NOLINTEND(readability-identifier-naming)
} // namespace varko
