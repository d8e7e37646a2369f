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

TSettingsDialog::TSettingsDialog(TAudioEngine& engine, TTablet& tablet, TPlaying& playing, TSettingsFlags& flags,
                   TSettingsOwner owner, QWidget* parent)
    : QDialog(parent), engine_(engine), tablet_(tablet), playing_(playing), flags_(flags),
      owner_(std::move(owner)) {
    setObjectName("SettingsDialog");
    SetupFixedDialog(this, 368, 232, QStringLiteral("Settings"));

    Tabs = new QTabWidget(this);
    Tabs->setGeometry(8, 8, 353, 217);

    // Tab "Sound"
    auto* sound = new QWidget;
    Tabs->addTab(sound, QStringLiteral("Sound"));
    DriverLabel = AddLabel(sound, text::DriverLabel, 8, 8, 185, 17);
    DriverCombo = new QComboBox(sound);
    DriverCombo->setGeometry(8, 24, 329, std::max(21, DriverCombo->sizeHint().height()));
    ChannelLabel = AddLabel(sound, QStringLiteral("Channels:"), 8, 56, 185, 17);
    ChannelBox = new QComboBox(sound);
    ChannelBox->setGeometry(8, 72, 329, std::max(21, ChannelBox->sizeHint().height()));
    DriverPanelButton = new QPushButton(text::PanelButton, sound);
    DriverPanelButton->setGeometry(8, 104, 97, 29);
    DriverPanelButton->setEnabled(false);
    StereoBox = AddCheck(sound, QStringLiteral("Stereo Separation"), 8, 160, 393, true);
    // The interpolation option lies beyond the page's edge and is never shown: only the
    // settings file sets it.
    InterpolateBox = AddCheck(
        sound,
        QStringLiteral("Arakestirimli gecikme hatlary kullan. (Frekans sapmasyny azaltabilir)"),
        296, 128, 393, false);
    InterpolateBox->hide();
    InterpolateNote = AddLabel(sound,
                              QStringLiteral("Bu seçene?i i?aretlemek i?lemci kullanymyny "
                                             "arttyryr. Seçenekteki de?i?ikli?in etkin olmasy "
                                             "için tonlaryn yenilenmesi gerekir."),
                              320, 146, 393, 17);
    InterpolateNote->hide();
    RefreshTonesLink = new QLabel(QStringLiteral("<a href=\"#\">Tonlary yenile.</a>"), sound);
    RefreshTonesLink->setTextFormat(Qt::RichText);
    RefreshTonesLink->setCursor(Qt::PointingHandCursor);
    RefreshTonesLink->move(320, 172);
    RefreshTonesLink->hide();

    // Tab "Input"
    auto* input = new QWidget;
    Tabs->addTab(input, QStringLiteral("Input"));
    ResonanceRateLabel = AddLabel(input, QStringLiteral("Resonance Adjustment Rate:"), 8, 8, 329, 17);
    FasterLabel = AddSmallLabel(input, QStringLiteral("Faster"), 8, 32, 49, Qt::AlignRight);
    ResonanceRateSlider = new QSlider(Qt::Horizontal, input);
    ResonanceRateSlider->setRange(ResRateMin, ResRateMax);
    ResonanceRateSlider->setValue(ResRateStart);
    ResonanceRateSlider->setSingleStep(1);
    ResonanceRateSlider->setPageStep(2);
    ResonanceRateSlider->setTickPosition(QSlider::TicksBelow);
    ResonanceRateSlider->setTickInterval(1);
    ResonanceRateSlider->setGeometry(56, 24, 233, 33);
    SlowerLabel = AddSmallLabel(input, QStringLiteral("Slower"), 290, 32, 49, Qt::AlignLeft);
    ResonanceButtonsGroup = new QGroupBox(QStringLiteral(" Resonance Control "), input);
    ResonanceButtonsGroup->setGeometry(8, 72, 329, 65);
    MiddleRaisesRadio = new QRadioButton(QStringLiteral("Use middle-click to raise, right-click to lower."),
                                 ResonanceButtonsGroup);
    MiddleRaisesRadio->setGeometry(8, 18, 313, 20);
    RightRaisesRadio = new QRadioButton(QStringLiteral("Use right-click to raise, middle-click to lower."),
                                 ResonanceButtonsGroup);
    RightRaisesRadio->setGeometry(8, 40, 313, 20);
    MiddleRaisesRadio->setChecked(true);
    MousePressureBox = AddCheck(input, QStringLiteral("Apply pressure with the left mouse button."), 8,
                            160, 233, false);
    // The font may be wider than the one the layout was drawn for: let the text show whole and
    // keep the icon beside it.
    MousePressureBox->resize(std::max(233, MousePressureBox->sizeHint().width()), MousePressureBox->height());
    MousePressureInfo = new QLabel(input);
    MousePressureInfo->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16));
    MousePressureInfo->setGeometry(std::max(240, MousePressureBox->geometry().right() + 8), 160, 16, 16);
    MousePressureInfo->setToolTip(QStringLiteral("Turning this on disables pressure sensitivity."));

    // Tab "Display"
    auto* display = new QWidget;
    Tabs->addTab(display, QStringLiteral("Display"));
    ColoredBarsBox = AddCheck(display, QStringLiteral("Show colored bars."), 8, 8, 329, true);
    FrequencyLabelsBox =
        AddCheck(display, QStringLiteral("Show fundamental frequencies."), 8, 32, 329, true);
    TwoRowsBox = AddCheck(display, QStringLiteral("Show bars in 2 rows."), 8, 56, 329, false);
    LevelsNote = AddLabel(
        display,
        QStringLiteral("Turning off the levels displays below may reduce processing load."), 8, 104,
        329, 17);
    MainLevelsBox =
        AddCheck(display, QStringLiteral("Show main volume levels."), 24, 128, 313, true);
    PressureLevelBox = AddCheck(display, QStringLiteral("Show pressure level in the status bar."), 24,
                              152, 313, true);

    // The lists answer the player only; check boxes, radio buttons and the track bar also answer
    // a change made from code, and only a real change.
    connect(DriverCombo, &QComboBox::activated, this, [this] { DriverComboChange(); });
    connect(ChannelBox, &QComboBox::activated, this, [this] { ChannelBoxChange(); });
    connect(DriverPanelButton, &QPushButton::clicked, this, [this] { DriverPanelClick(); });
    connect(StereoBox, &QCheckBox::toggled, this, [this] { StereoBoxClick(); });
    connect(InterpolateBox, &QCheckBox::toggled, this, [this] { InterpolateBoxClick(); });
    connect(RefreshTonesLink, &QLabel::linkActivated, this, [this] { RefreshTonesClick(); });
    connect(ResonanceRateSlider, &QSlider::valueChanged, this, [this] { ResonanceRateChange(); });
    for (QRadioButton* r : {MiddleRaisesRadio, RightRaisesRadio}) {
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                ResonanceButtonsClick();
            }
        });
    }
    connect(MousePressureBox, &QCheckBox::toggled, this, [this] { MousePressureBoxClick(); });
    connect(ColoredBarsBox, &QCheckBox::toggled, this, [this] { ColoredBarsBoxClick(); });
    connect(FrequencyLabelsBox, &QCheckBox::toggled, this, [this] { FrequencyLabelsBoxClick(); });
    connect(TwoRowsBox, &QCheckBox::toggled, this, [this] { TwoRowsBoxClick(); });
    connect(MainLevelsBox, &QCheckBox::toggled, this, [this] { MainLevelsBoxClick(); });
    connect(PressureLevelBox, &QCheckBox::toggled, this, [this] { PressureLevelBoxClick(); });
}

void TSettingsDialog::FillDriverList() {
    DriverCombo->clear();
    for (const std::string& name : engine_.Host().DriverList()) {
        DriverCombo->addItem(QString::fromStdString(name));
    }
    DriverCombo->setCurrentIndex(-1);
}

// Sound tab

void TSettingsDialog::DriverComboChange() {
    DriverPanelButton->setEnabled(false);
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
    DriverPanelButton->setEnabled(true);
    ChannelBox->setCurrentIndex(pairs > 0 ? 0 : -1);
    engine_.Start();
    SetStatus(owner_, StatusAudioPanel, text::Running);
}

void TSettingsDialog::ChannelBoxChange() {
    if (DriverCombo->currentIndex() < 0 || ChannelBox->currentIndex() < 0) {
        return;
    }
    engine_.Stop();
    engine_.Host().SetOutputChannelOffset(static_cast<uint16_t>(2 * ChannelBox->currentIndex()));
    engine_.Start();
    SetStatus(owner_, StatusAudioPanel, text::Running);
}

void TSettingsDialog::DriverPanelClick() {
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

void TSettingsDialog::StereoBoxClick() {
    flags_.StereoSeparation = StereoBox->isChecked();
    engine_.Stereo.store(flags_.StereoSeparation, std::memory_order_relaxed);
}

void TSettingsDialog::InterpolateBoxClick() {
    flags_.InterpolateDelays = InterpolateBox->isChecked();
}

void TSettingsDialog::RefreshTonesClick() {
    Call(owner_.RefreshTones);
}

// Input tab

void TSettingsDialog::ResonanceRateChange() {
    if (owner_.SetRezTimerInterval) {
        owner_.SetRezTimerInterval(ResTimerStepMs * ResonanceRateSlider->value());
    }
}

void TSettingsDialog::ResonanceButtonsClick() {
    if (ResonanceButtonsIndex() == 0) {
        playing_.ResonanceRaiseButton = TMouseButton::mbMiddle;
        playing_.ResonanceLowerButton = TMouseButton::mbRight;
    } else {
        playing_.ResonanceRaiseButton = TMouseButton::mbRight;
        playing_.ResonanceLowerButton = TMouseButton::mbMiddle;
    }
}

void TSettingsDialog::MousePressureBoxClick() {
    // The tablet's context is off while the mouse applies pressure.
    tablet_.SetEnabled(!MousePressureBox->isChecked());
    playing_.MousePressure = MousePressureBox->isChecked();
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

int TSettingsDialog::ResonanceButtonsIndex() const {
    if (MiddleRaisesRadio->isChecked()) {
        return 0;
    }
    if (RightRaisesRadio->isChecked()) {
        return 1;
    }
    return -1;
}

void TSettingsDialog::SetResonanceButtonsIndex(int index) {
    if (index == 0) {
        MiddleRaisesRadio->setChecked(true);
    } else if (index == 1) {
        RightRaisesRadio->setChecked(true);
    } else {
        // No item: an exclusive button cannot be unchecked on its own.
        for (QRadioButton* r : {MiddleRaisesRadio, RightRaisesRadio}) {
            r->setAutoExclusive(false);
            r->setChecked(false);
            r->setAutoExclusive(true);
        }
    }
}

// Display tab

void TSettingsDialog::ColoredBarsBoxClick() {
    flags_.ColoredToneZone = ColoredBarsBox->isChecked();
    Call(owner_.RepaintToneZone);
}

void TSettingsDialog::FrequencyLabelsBoxClick() {
    flags_.ShowFrequencyLabels = FrequencyLabelsBox->isChecked();
    Call(owner_.RepaintToneZone);
}

void TSettingsDialog::TwoRowsBoxClick() {
    flags_.Paint2Rows = TwoRowsBox->isChecked();
    engine_.TwoRowPanning.store(flags_.Paint2Rows, std::memory_order_relaxed);
    Call(owner_.RepaintToneZone);
    Call(owner_.UpdateStereoConstants);
}

void TSettingsDialog::MainLevelsBoxClick() {
    flags_.ShowMainLevels = MainLevelsBox->isChecked();
    engine_.MeterPeaks.store(flags_.ShowMainLevels, std::memory_order_relaxed);
    Call(owner_.ResetLevelBars);
    if (owner_.SetLevelTimerEnabled) {
        owner_.SetLevelTimerEnabled(flags_.ShowMainLevels);
    }
}

void TSettingsDialog::PressureLevelBoxClick() {
    flags_.ShowPressureLevel = PressureLevelBox->isChecked();
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

void SetCheck(TSettingsDialog& form, QCheckBox* box, bool value, void (TSettingsDialog::*handler)()) {
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

void TSettingsDialog::ApplySettings(const TVarkoSettings& s,
                             const std::function<void(int)>& setMasterLevel) {
    // The lists never run their handlers when set; the reading runs them itself.
    DriverCombo->setCurrentIndex(DriverIndexFor(*DriverCombo, s));
    DriverComboChange();

    const bool channelInList = s.ASIOchannel >= 0 && s.ASIOchannel < ChannelBox->count();
    ChannelBox->setCurrentIndex(channelInList ? s.ASIOchannel : -1);
    ChannelBoxChange();

    SetCheck(*this, StereoBox, s.StereoSeparation, &TSettingsDialog::StereoBoxClick);
    if (setMasterLevel) {
        setMasterLevel(std::clamp(s.MasterLevel, 0, 200));
    }
    SetCheck(*this, InterpolateBox, s.InterpolateDelays, &TSettingsDialog::InterpolateBoxClick);

    const int radio = std::clamp(s.ResonanceControl, -1, 1);
    if (radio != ResonanceButtonsIndex()) {
        {
            const QSignalBlocker b0(MiddleRaisesRadio);
            const QSignalBlocker b1(RightRaisesRadio);
            SetResonanceButtonsIndex(radio);
        }
        // Clearing the selection clicks no item, so nothing runs then.
        if (radio >= 0) {
            ResonanceButtonsClick();
        }
    }

    const int rate = std::clamp(s.ResonanceRate, ResRateMin, ResRateMax);
    SetAndRun(
        ResonanceRateSlider, ResonanceRateSlider->value() != rate, [&] { ResonanceRateSlider->setValue(rate); },
        [&] { ResonanceRateChange(); });

    // Without a tablet start-up has forced the box on; the stored choice must not undo that.
    if (!MousePressureBox->isChecked()) {
        SetCheck(*this, MousePressureBox, s.AllowMouse, &TSettingsDialog::MousePressureBoxClick);
    }

    SetCheck(*this, MainLevelsBox, s.ShowMainLevels, &TSettingsDialog::MainLevelsBoxClick);
    SetCheck(*this, PressureLevelBox, s.ShowPressureLevel, &TSettingsDialog::PressureLevelBoxClick);
    SetCheck(*this, FrequencyLabelsBox, s.ShowFrequencyLabels, &TSettingsDialog::FrequencyLabelsBoxClick);
    SetCheck(*this, TwoRowsBox, s.Paint2Rows, &TSettingsDialog::TwoRowsBoxClick);
    SetCheck(*this, ColoredBarsBox, s.ColoredToneZone, &TSettingsDialog::ColoredBarsBoxClick);
}

TVarkoSettings TSettingsDialog::CurrentSettings(int masterLevel) const {
    TVarkoSettings s;
    s.ASIOdriver = DriverCombo->currentIndex();
    s.ASIOdriverName = s.ASIOdriver >= 0 ? DriverCombo->currentText().toStdString() : std::string();
    s.ASIOchannel = ChannelBox->currentIndex();
    s.StereoSeparation = StereoBox->isChecked();
    s.InterpolateDelays = InterpolateBox->isChecked();
    s.MasterLevel = masterLevel;
    s.ResonanceControl = ResonanceButtonsIndex();
    s.ResonanceRate = ResonanceRateSlider->value();
    s.AllowMouse = MousePressureBox->isChecked();
    s.ShowMainLevels = MainLevelsBox->isChecked();
    s.ShowPressureLevel = PressureLevelBox->isChecked();
    s.ShowFrequencyLabels = FrequencyLabelsBox->isChecked();
    s.Paint2Rows = TwoRowsBox->isChecked();
    s.ColoredToneZone = ColoredBarsBox->isChecked();
    return s;
}

} // namespace varko
