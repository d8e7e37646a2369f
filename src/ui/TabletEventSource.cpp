#include "ui/TabletEventSource.h"

#include <QGuiApplication>
#include <QInputDevice>
#include <QPointingDevice>
#include <QScreen>
#include <QTabletEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varko {

TTabletEventSource::TTabletEventSource(QObject* parent) : QObject(parent) {
    service_.PressureAxis = {0, PressureMax, 0, 0};
    // Messages the component's own calls post (a context opened) arrive through the event
    // loop, as posted window messages would.
    service_.OnPost = [this] {
        if (deliveryQueued_) {
            return;
        }
        deliveryQueued_ = true;
        QMetaObject::invokeMethod(this, "DeliverQueued", Qt::QueuedConnection);
    };
    Probe();
    UpdateExtents();
}

TTabletEventSource::~TTabletEventSource() {
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
    }
}

void TTabletEventSource::DeliverQueued() {
    deliveryQueued_ = false;
    service_.DeliverMessages();
}

bool TTabletEventSource::Probe() {
    for (const QInputDevice* device : QInputDevice::devices()) {
        if (device->type() == QInputDevice::DeviceType::Stylus) {
            SetDevice(true, device->name().toStdString());
            return true;
        }
    }
    SetDevice(false, {});
    return false;
}

void TTabletEventSource::SetDevice(bool available, const std::string& name) {
    service_.Available = available;
    service_.DeviceName = name;
}

void TTabletEventSource::Attach(QWidget* zone) {
    zone_ = zone;
    // One application-wide filter: proximity events go to the application, not to a widget,
    // and the zone's pen events pass through it too.
    if (qApp != nullptr) {
        qApp->removeEventFilter(this);
        qApp->installEventFilter(this);
    }
}

void TTabletEventSource::UpdateExtents() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect desk = screen->virtualGeometry();
    service_.SetInputExtents(desk.x() * 100, desk.y() * 100, std::max(desk.width(), 1) * 100,
                             std::max(desk.height(), 1) * 100);
}

TPenSample TTabletEventSource::PenSampleFromPacket(const void* packet) {
    TPacket p;
    std::memcpy(&p, packet, sizeof p);
    // The pressure field is unsigned in the packet but never above the axis maximum.
    return TPenSample{p.pkX, p.pkY, static_cast<int32_t>(p.pkNormalPressure)};
}

TPacket TTabletEventSource::PacketFromEvent(const QTabletEvent& event) {
    TPacket p;
    switch (event.pointerType()) {
    case QPointingDevice::PointerType::Pen:
        p.pkCursor = 1;
        break;
    case QPointingDevice::PointerType::Eraser:
        p.pkCursor = 2;
        break;
    default:
        p.pkCursor = 0;
        break;
    }
    const Qt::MouseButtons b = event.buttons();
    p.pkButtons = (b.testFlag(Qt::LeftButton) ? 1u : 0u) | (b.testFlag(Qt::RightButton) ? 2u : 0u) |
                  (b.testFlag(Qt::MiddleButton) ? 4u : 0u);
    const QPointF g = event.globalPosition();
    p.pkX = static_cast<int32_t>(std::lround(g.x() * 100.0));
    p.pkY = static_cast<int32_t>(std::lround(g.y() * 100.0));
    const double pressure = std::clamp(event.pressure(), 0.0, 1.0);
    p.pkNormalPressure = static_cast<uint32_t>(std::lround(pressure * PressureMax));
    // Orientation in tenths of a degree: the tilt's direction and the pen's angle above the
    // tablet, and the barrel's rotation.
    const double tx = event.xTilt();
    const double ty = event.yTilt();
    double azimuth = std::atan2(tx, -ty) * 180.0 / M_PI;
    if (azimuth < 0) {
        azimuth += 360.0;
    }
    const double tilt = std::min(90.0, std::hypot(tx, ty));
    p.pkOrientation.orAzimuth = static_cast<int32_t>(std::lround(azimuth * 10.0)) % 3600;
    p.pkOrientation.orAltitude = static_cast<int32_t>(std::lround((90.0 - tilt) * 10.0));
    p.pkOrientation.orTwist = static_cast<int32_t>(std::lround(event.rotation() * 10.0));
    return p;
}

bool TTabletEventSource::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
        if (watched == zone_ && service_.Available) {
            UpdateExtents();
            const TPacket packet = PacketFromEvent(*static_cast<QTabletEvent*>(event));
            // Turning the pen round (tip to eraser) is a new cursor.
            if (packet.pkCursor != lastCursor_) {
                lastCursor_ = packet.pkCursor;
                service_.CursorChange(packet);
            }
            service_.PenPacket(packet);
        }
        break; // never consumed: the mouse events follow
    case QEvent::TabletEnterProximity:
    case QEvent::TabletLeaveProximity:
        if (service_.Available) {
            service_.PenProximity(event->type() == QEvent::TabletEnterProximity);
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace varko
