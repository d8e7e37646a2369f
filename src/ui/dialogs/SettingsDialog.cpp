#include "ui/dialogs/SettingsDialog.h"

#include "tablet/Tablet.h"
#include "ui/dialogs/NoticeLayout.h"
#include "core/Texts.h"
#include "engine/AudioEngine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>

#include <algorithm>
#include <string>

namespace varko {

namespace {

constexpr int StatusInputPanel = 0;
constexpr int StatusAudioPanel = 4;

constexpr int ResRateMin = 1;
constexpr int ResRateMax = 10;
constexpr int ResRateStart = 4;
constexpr int ResTimerStepMs = 5; // timer interval per track bar step

QCheckBox* AddCheck(QWidget* parent, const QString& text, int x, int y, int width, bool checked) {
    auto* c = new QCheckBox(text, parent);
    c->setChecked(checked);
    c->setGeometry(x, y, width, std::max(17, c->sizeHint().height()));
    return c;
}

QLabel* AddSmallLabel(QWidget* parent, const QString& text, int x, int y, int width,
                      Qt::Alignment align) {
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setPointSize(7);
    l->setFont(f);
    l->setAlignment(align | Qt::AlignVCenter);
    l->setGeometry(x, y, width, std::max(17, l->sizeHint().height()));
    return l;
}

// The channel's name up to its first NUL, as the driver's fixed-size record holds it.
QString ChannelName(const IAudioHost& host, int channel) {
    std::string name = host.GetOutputChannelName(channel);
    const size_t nul = name.find('\0');
    if (nul != std::string::npos) {
        name.resize(nul);
    }
    return QString::fromStdString(name);
}

template <typename F> void Call(const F& f) {
    if (f) {
        f();
    }
}

void SetStatus(const TSettingsOwner& owner, int panel, const QString& text) {
    if (owner.SetStatusText) {
        owner.SetStatusText(panel, text);
    }
}

} // namespace

Tayarfrm::Tayarfrm(TAudioEngine& engine, TTablet& tablet, TPlaying& playing, TSettingsFlags& flags,
                   TSettingsOwner owner, QWidget* parent)
    : QDialog(parent), engine_(engine), tablet_(tablet), playing_(playing), flags_(flags),
      owner_(std::move(owner)) {
    setObjectName("ayarfrm");
    SetupFixedDialog(this, 368, 232, QStringLiteral("Settings"));

    PageControl = new QTabWidget(this);
    PageControl->setGeometry(8, 8, 353, 217);

    // Tab "Sound"
    auto* sound = new QWidget;
    PageControl->addTab(sound, QStringLiteral("Sound"));
    lblasiodrvr = AddLabel(sound, text::DriverLabel, 8, 8, 185, 17);
    DriverCombo = new QComboBox(sound);
    DriverCombo->setGeometry(8, 24, 329, std::max(21, DriverCombo->sizeHint().height()));
    lblchannel = AddLabel(sound, QStringLiteral("Channels:"), 8, 56, 185, 17);
    ChannelBox = new QComboBox(sound);
    ChannelBox->setGeometry(8, 72, 329, std::max(21, ChannelBox->sizeHint().height()));
    controlpanel = new QPushButton(text::PanelButton, sound);
    controlpanel->setGeometry(8, 104, 97, 29);
    controlpanel->setEnabled(false);
    StereoChk = AddCheck(sound, QStringLiteral("Stereo Separation"), 8, 160, 393, true);
    // The interpolation option lies beyond the page's edge and is never shown: only the
    // settings file sets it.
    InterpolateChk = AddCheck(
        sound,
        QStringLiteral("Arakestirimli gecikme hatlary kullan. (Frekans sapmasyny azaltabilir)"),
        296, 128, 393, false);
    InterpolateChk->hide();
    lblInterpolate = AddLabel(sound,
                              QStringLiteral("Bu seçene?i i?aretlemek i?lemci kullanymyny "
                                             "arttyryr. Seçenekteki de?i?ikli?in etkin olmasy "
                                             "için tonlaryn yenilenmesi gerekir."),
                              320, 146, 393, 17);
    lblInterpolate->hide();
    lblRefreshOsc = new QLabel(QStringLiteral("<a href=\"#\">Tonlary yenile.</a>"), sound);
    lblRefreshOsc->setTextFormat(Qt::RichText);
    lblRefreshOsc->setCursor(Qt::PointingHandCursor);
    lblRefreshOsc->move(320, 172);
    lblRefreshOsc->hide();

    // Tab "Input"
    auto* input = new QWidget;
    PageControl->addTab(input, QStringLiteral("Input"));
    lblresrate = AddLabel(input, QStringLiteral("Resonance Adjustment Rate:"), 8, 8, 329, 17);
    lblfaster = AddSmallLabel(input, QStringLiteral("Faster"), 8, 32, 49, Qt::AlignRight);
    ResRateTrk = new QSlider(Qt::Horizontal, input);
    ResRateTrk->setRange(ResRateMin, ResRateMax);
    ResRateTrk->setValue(ResRateStart);
    ResRateTrk->setSingleStep(1);
    ResRateTrk->setPageStep(2);
    ResRateTrk->setTickPosition(QSlider::TicksBelow);
    ResRateTrk->setTickInterval(1);
    ResRateTrk->setGeometry(56, 24, 233, 33);
    lblslower = AddSmallLabel(input, QStringLiteral("Slower"), 290, 32, 49, Qt::AlignLeft);
    ResRadioGroup = new QGroupBox(QStringLiteral(" Resonance Control "), input);
    ResRadioGroup->setGeometry(8, 72, 329, 65);
    ResRadio0 = new QRadioButton(QStringLiteral("Use middle-click to raise, right-click to lower."),
                                 ResRadioGroup);
    ResRadio0->setGeometry(8, 18, 313, 20);
    ResRadio1 = new QRadioButton(QStringLiteral("Use right-click to raise, middle-click to lower."),
                                 ResRadioGroup);
    ResRadio1->setGeometry(8, 40, 313, 20);
    ResRadio0->setChecked(true);
    chktabletyok = AddCheck(input, QStringLiteral("Apply pressure with the left mouse button."), 8,
                            160, 233, false);
    // The font may be wider than the one the layout was drawn for: let the text show whole and
    // keep the icon beside it.
    chktabletyok->resize(std::max(233, chktabletyok->sizeHint().width()), chktabletyok->height());
    Image1 = new QLabel(input);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16));
    Image1->setGeometry(std::max(240, chktabletyok->geometry().right() + 8), 160, 16, 16);
    Image1->setToolTip(QStringLiteral("Turning this on disables pressure sensitivity."));

    // Tab "Display"
    auto* display = new QWidget;
    PageControl->addTab(display, QStringLiteral("Display"));
    ColoredTZChk = AddCheck(display, QStringLiteral("Show colored bars."), 8, 8, 329, true);
    freqlblchk =
        AddCheck(display, QStringLiteral("Show fundamental frequencies."), 8, 32, 329, true);
    Paint2RowsChk = AddCheck(display, QStringLiteral("Show bars in 2 rows."), 8, 56, 329, false);
    lblasterisk = AddLabel(
        display,
        QStringLiteral("Turning off the levels displays below may reduce processing load."), 8, 104,
        329, 17);
    mainlevelschk =
        AddCheck(display, QStringLiteral("Show main volume levels."), 24, 128, 313, true);
    pressurelvlchk = AddCheck(display, QStringLiteral("Show pressure level in the status bar."), 24,
                              152, 313, true);

    // The lists answer the player only; check boxes, radio buttons and the track bar also answer
    // a change made from code, and only a real change.
    connect(DriverCombo, &QComboBox::activated, this, [this] { DriverComboChange(); });
    connect(ChannelBox, &QComboBox::activated, this, [this] { ChannelBoxChange(); });
    connect(controlpanel, &QPushButton::clicked, this, [this] { controlpanelClick(); });
    connect(StereoChk, &QCheckBox::toggled, this, [this] { StereoChkClick(); });
    connect(InterpolateChk, &QCheckBox::toggled, this, [this] { InterpolateChkClick(); });
    connect(lblRefreshOsc, &QLabel::linkActivated, this, [this] { lblRefreshOscClick(); });
    connect(ResRateTrk, &QSlider::valueChanged, this, [this] { ResRateTrkChange(); });
    for (QRadioButton* r : {ResRadio0, ResRadio1}) {
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                ResRadioGroupClick();
            }
        });
    }
    connect(chktabletyok, &QCheckBox::toggled, this, [this] { chktabletyokClick(); });
    connect(ColoredTZChk, &QCheckBox::toggled, this, [this] { ColoredTZChkClick(); });
    connect(freqlblchk, &QCheckBox::toggled, this, [this] { freqlblchkClick(); });
    connect(Paint2RowsChk, &QCheckBox::toggled, this, [this] { Paint2RowsChkClick(); });
    connect(mainlevelschk, &QCheckBox::toggled, this, [this] { mainlevelschkClick(); });
    connect(pressurelvlchk, &QCheckBox::toggled, this, [this] { pressurelvlchkClick(); });
}

void Tayarfrm::FillDriverList() {
    DriverCombo->clear();
    for (const std::string& name : engine_.Host().DriverList()) {
        DriverCombo->addItem(QString::fromStdString(name));
    }
    DriverCombo->setCurrentIndex(-1);
}

// Sound tab

void Tayarfrm::DriverComboChange() {
    controlpanel->setEnabled(false);
    engine_.Stop();
    // With two drivers of one name the first wins, as a lookup by the shown text gives.
    const int index = DriverCombo->currentIndex() < 0
                          ? -1
                          : DriverCombo->findText(DriverCombo->currentText(),
                                                  Qt::MatchExactly | Qt::MatchCaseSensitive);
    DriverCombo->setCurrentIndex(index);
    if (index < 0) {
        return;
    }
    IAudioHost& host = engine_.Host();
    host.SetDriverIndex(index);
    ChannelBox->clear();
    const int pairs = std::max(0, host.OutputChannelCount()) / 2;
    for (int p = 0; p < pairs; ++p) {
        ChannelBox->addItem(ChannelName(host, 2 * p) + QStringLiteral(" / ") +
                            ChannelName(host, 2 * p + 1));
    }
    controlpanel->setEnabled(true);
    ChannelBox->setCurrentIndex(pairs > 0 ? 0 : -1);
    engine_.Start();
    SetStatus(owner_, StatusAudioPanel, text::Running);
}

void Tayarfrm::ChannelBoxChange() {
    if (DriverCombo->currentIndex() < 0 || ChannelBox->currentIndex() < 0) {
        return;
    }
    engine_.Stop();
    engine_.Host().SetOutputChannelOffset(static_cast<uint16_t>(2 * ChannelBox->currentIndex()));
    engine_.Start();
    SetStatus(owner_, StatusAudioPanel, text::Running);
}

void Tayarfrm::controlpanelClick() {
    const bool wasRunning = engine_.Running.load();
    if (wasRunning) {
        engine_.Stop();
        SetStatus(owner_, StatusAudioPanel, text::Stopped);
    }
    engine_.Host().ControlPanel();
    // Audio stopped before (by the player or the watchdog) stays stopped.
    if (wasRunning && DriverCombo->currentIndex() >= 0 && ChannelBox->currentIndex() >= 0) {
        engine_.Start();
        SetStatus(owner_, StatusAudioPanel, text::Running);
    }
}

void Tayarfrm::StereoChkClick() {
    flags_.StereoSeparation = StereoChk->isChecked();
    engine_.Stereo.store(flags_.StereoSeparation, std::memory_order_relaxed);
}

void Tayarfrm::InterpolateChkClick() {
    flags_.InterpolateDelays = InterpolateChk->isChecked();
}

void Tayarfrm::lblRefreshOscClick() {
    Call(owner_.RefreshTones);
}

// Input tab

void Tayarfrm::ResRateTrkChange() {
    if (owner_.SetRezTimerInterval) {
        owner_.SetRezTimerInterval(ResTimerStepMs * ResRateTrk->value());
    }
}

void Tayarfrm::ResRadioGroupClick() {
    if (ResRadioIndex() == 0) {
        playing_.ResonanceRaiseButton = TMouseButton::mbMiddle;
        playing_.ResonanceLowerButton = TMouseButton::mbRight;
    } else {
        playing_.ResonanceRaiseButton = TMouseButton::mbRight;
        playing_.ResonanceLowerButton = TMouseButton::mbMiddle;
    }
}

void Tayarfrm::chktabletyokClick() {
    // The tablet's context is off while the mouse applies pressure.
    tablet_.SetEnabled(!chktabletyok->isChecked());
    playing_.MousePressure = chktabletyok->isChecked();
    if (tablet_.Enabled()) {
        SetStatus(owner_, StatusInputPanel, QString::fromStdString(tablet_.DeviceName()));
        playing_.LastPointerX = 0;
        playing_.LastPointerY = 0;
    } else {
        SetStatus(owner_, StatusInputPanel, text::StandardMouse);
        // Mouse speed is measured from here, so the first move does not jump.
        const QPoint p = owner_.CursorPos ? owner_.CursorPos() : QPoint();
        playing_.LastPointerX = static_cast<float>(p.x());
        playing_.LastPointerY = static_cast<float>(p.y());
    }
}

int Tayarfrm::ResRadioIndex() const {
    if (ResRadio0->isChecked()) {
        return 0;
    }
    if (ResRadio1->isChecked()) {
        return 1;
    }
    return -1;
}

void Tayarfrm::SetResRadioIndex(int index) {
    if (index == 0) {
        ResRadio0->setChecked(true);
    } else if (index == 1) {
        ResRadio1->setChecked(true);
    } else {
        // No item: an exclusive button cannot be unchecked on its own.
        for (QRadioButton* r : {ResRadio0, ResRadio1}) {
            r->setAutoExclusive(false);
            r->setChecked(false);
            r->setAutoExclusive(true);
        }
    }
}

// Display tab

void Tayarfrm::ColoredTZChkClick() {
    flags_.ColoredToneZone = ColoredTZChk->isChecked();
    Call(owner_.RepaintToneZone);
}

void Tayarfrm::freqlblchkClick() {
    flags_.ShowFrequencyLabels = freqlblchk->isChecked();
    Call(owner_.RepaintToneZone);
}

void Tayarfrm::Paint2RowsChkClick() {
    flags_.Paint2Rows = Paint2RowsChk->isChecked();
    engine_.TwoRowPanning.store(flags_.Paint2Rows, std::memory_order_relaxed);
    Call(owner_.RepaintToneZone);
    Call(owner_.UpdateStereoConstants);
}

void Tayarfrm::mainlevelschkClick() {
    flags_.ShowMainLevels = mainlevelschk->isChecked();
    engine_.MeterPeaks.store(flags_.ShowMainLevels, std::memory_order_relaxed);
    Call(owner_.ResetLevelBars);
    if (owner_.SetLevelTimerEnabled) {
        owner_.SetLevelTimerEnabled(flags_.ShowMainLevels);
    }
}

void Tayarfrm::pressurelvlchkClick() {
    flags_.ShowPressureLevel = pressurelvlchk->isChecked();
    playing_.ShowPressureLevel = flags_.ShowPressureLevel;
    Call(owner_.ResetPressureBar);
}

// Settings

namespace {

// Sets a control from the settings and runs its handler only on a real change, as a change made
// from code does. The handler is called here rather than through the signal so that an
// exception it throws reaches the reader of the settings.
template <typename Setter, typename Handler>
void SetAndRun(QObject* control, bool differs, Setter set, Handler handler) {
    if (!differs) {
        return;
    }
    {
        const QSignalBlocker block(control);
        set();
    }
    handler();
}

} // namespace

void SetCheck(Tayarfrm& form, QCheckBox* box, bool value, void (Tayarfrm::*handler)()) {
    SetAndRun(
        box, box->isChecked() != value, [&] { box->setChecked(value); },
        [&] { (form.*handler)(); });
}

// The stored driver: its name when the index no longer names it (device lists change between
// runs), else the index; -1 when neither is in the list.
int DriverIndexFor(const QComboBox& combo, const TVarkoSettings& s) {
    const bool inList = s.ASIOdriver >= 0 && s.ASIOdriver < combo.count();
    if (!s.ASIOdriverName.empty()) {
        const QString name = QString::fromStdString(s.ASIOdriverName);
        if (inList && combo.itemText(s.ASIOdriver) == name) {
            return s.ASIOdriver;
        }
        const int byName = combo.findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (byName >= 0) {
            return byName;
        }
    }
    return inList ? s.ASIOdriver : -1;
}

void Tayarfrm::ApplySettings(const TVarkoSettings& s,
                             const std::function<void(int)>& setMasterLevel) {
    // The lists never run their handlers when set; the reading runs them itself.
    DriverCombo->setCurrentIndex(DriverIndexFor(*DriverCombo, s));
    DriverComboChange();

    const bool channelInList = s.ASIOchannel >= 0 && s.ASIOchannel < ChannelBox->count();
    ChannelBox->setCurrentIndex(channelInList ? s.ASIOchannel : -1);
    ChannelBoxChange();

    SetCheck(*this, StereoChk, s.StereoSeparation, &Tayarfrm::StereoChkClick);
    if (setMasterLevel) {
        setMasterLevel(std::clamp(s.MasterLevel, 0, 200));
    }
    SetCheck(*this, InterpolateChk, s.InterpolateDelays, &Tayarfrm::InterpolateChkClick);

    const int radio = std::clamp(s.ResonanceControl, -1, 1);
    if (radio != ResRadioIndex()) {
        {
            const QSignalBlocker b0(ResRadio0);
            const QSignalBlocker b1(ResRadio1);
            SetResRadioIndex(radio);
        }
        // Clearing the selection clicks no item, so nothing runs then.
        if (radio >= 0) {
            ResRadioGroupClick();
        }
    }

    const int rate = std::clamp(s.ResonanceRate, ResRateMin, ResRateMax);
    SetAndRun(
        ResRateTrk, ResRateTrk->value() != rate, [&] { ResRateTrk->setValue(rate); },
        [&] { ResRateTrkChange(); });

    // Without a tablet start-up has forced the box on; the stored choice must not undo that.
    if (!chktabletyok->isChecked()) {
        SetCheck(*this, chktabletyok, s.AllowMouse, &Tayarfrm::chktabletyokClick);
    }

    SetCheck(*this, mainlevelschk, s.ShowMainLevels, &Tayarfrm::mainlevelschkClick);
    SetCheck(*this, pressurelvlchk, s.ShowPressureLevel, &Tayarfrm::pressurelvlchkClick);
    SetCheck(*this, freqlblchk, s.ShowFrequencyLabels, &Tayarfrm::freqlblchkClick);
    SetCheck(*this, Paint2RowsChk, s.Paint2Rows, &Tayarfrm::Paint2RowsChkClick);
    SetCheck(*this, ColoredTZChk, s.ColoredToneZone, &Tayarfrm::ColoredTZChkClick);
}

TVarkoSettings Tayarfrm::CurrentSettings(int masterLevel) const {
    TVarkoSettings s;
    s.ASIOdriver = DriverCombo->currentIndex();
    s.ASIOdriverName = s.ASIOdriver >= 0 ? DriverCombo->currentText().toStdString() : std::string();
    s.ASIOchannel = ChannelBox->currentIndex();
    s.StereoSeparation = StereoChk->isChecked();
    s.InterpolateDelays = InterpolateChk->isChecked();
    s.MasterLevel = masterLevel;
    s.ResonanceControl = ResRadioIndex();
    s.ResonanceRate = ResRateTrk->value();
    s.AllowMouse = chktabletyok->isChecked();
    s.ShowMainLevels = mainlevelschk->isChecked();
    s.ShowPressureLevel = pressurelvlchk->isChecked();
    s.ShowFrequencyLabels = freqlblchk->isChecked();
    s.Paint2Rows = Paint2RowsChk->isChecked();
    s.ColoredToneZone = ColoredTZChk->isChecked();
    return s;
}

} // namespace varko
