// Feeds the tablet component from Qt's pen events: Qt's tablet events on the tone zone become
// the component's 32-byte packets. X and Y are the pen's global position in hundredths of a
// pixel, the context's input area is the virtual desktop in the same units, and pressure is
// scaled to 0 .. PressureMax. The events are left unaccepted, so Qt also delivers the mouse
// events that choose the bar.
#pragma once

#include "instrument/Playing.h"
#include "tablet/Tablet.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

class QTabletEvent;

namespace varko {

class TTabletEventSource : public QObject {
    Q_OBJECT
public:
    static constexpr int32_t PressureMax = DefaultPressureMax;

    // Probes Qt's input devices: a stylus makes the service available under its name.
    explicit TTabletEventSource(QObject* parent = nullptr);
    ~TTabletEventSource() override;

    // The driver the tablet component is built on (TTablet Tablet(&source.Service())).
    // It must outlive the component.
    TWintabService& Service() { return service_; }

    // Re-reads Qt's device list. Returns whether a stylus was found.
    bool Probe();
    // Sets the device by hand (a test, or a pen Qt did not list at start).
    void SetDevice(bool available, const std::string& name);

    // Watches pen events on this widget (the tone zone), and proximity application-wide.
    void Attach(QWidget* zone);

    // The packet for one tablet event.
    static TPacket PacketFromEvent(const QTabletEvent& event);
    // What playing takes of a packet the component delivers.
    static TPenSample PenSampleFromPacket(const void* packet);
    // The virtual desktop in hundredths of a pixel, as the context's input area.
    void UpdateExtents();

protected:
    Q_INVOKABLE void DeliverQueued();
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TWintabService service_;
    QPointer<QWidget> zone_;
    bool deliveryQueued_ = false;
    uint32_t lastCursor_ = 0xFFFFFFFF; // none yet
};

} // namespace varko
