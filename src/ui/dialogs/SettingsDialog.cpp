#include "ui/dialogs/SettingsDialog.h"

#include "core/Texts.h"
#include "tablet/Tablet.h"
#include "ui/dialogs/NoticeLayout.h"

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

TSettingsDialog::TSettingsDialog(TInstrument& instrument, TTablet& tablet, TSettingsOwner owner,
                                 QWidget* parent)
    : QDialog(parent), instrument_(instrument), tablet_(tablet), owner_(std::move(owner)) {
    setObjectName("SettingsDialog");
    // Taller than the original design: the mouse glide box and the sound options.
    SetupFixedDialog(this, 368, 316, QStringLiteral("Settings"));

    Tabs = new QTabWidget(this);
    Tabs->setGeometry(8, 8, 353, 301);

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
    StereoBox = AddCheck(sound, QStringLiteral("Stereo Separation"), 8, 140, 329, true);
    LimiterBox = AddCheck(sound, QStringLiteral("Master limiter (no clipping)"), 8, 160, 329, true);
    LimiterBox->setToolTip(QStringLiteral(
        "Turns peaks above -0.5 dBFS down smoothly, 2 ms ahead of them. The clip lamps still "
        "show when the sound before it reaches full scale."));
    InterpolateBox = AddCheck(sound, QStringLiteral("Exact pitch (interpolated delay lines)"), 8,
                              180, 329, true);
    InterpolateBox->resize(InterpolateBox->sizeHint().width(), InterpolateBox->height());
    RefreshTonesLink = new QLabel(QStringLiteral("<a href=\"#\">Rebuild now</a>"), sound);
    RefreshTonesLink->setTextFormat(Qt::RichText);
    RefreshTonesLink->setCursor(Qt::PointingHandCursor);
    RefreshTonesLink->setToolTip(QStringLiteral("Builds the bars anew (ringing bars stop)."));
    RefreshTonesLink->setGeometry(InterpolateBox->geometry().right() + 8, 180,
                                  RefreshTonesLink->sizeHint().width(), InterpolateBox->height());
    InterpolateNote = AddSmallLabel(sound, QString::fromUtf8(text::InterpolateCost), 24,
                                    InterpolateBox->geometry().bottom() + 1, 313, Qt::AlignLeft);
    InterpolateNote->setWordWrap(true);
    InterpolateNote->resize(313, InterpolateNote->heightForWidth(313));
    // Large banks play on a pool of one thread per core: far fewer wake-ups per block.
    const int renderY = InterpolateNote->geometry().bottom() + 8;
    RenderTonesLabel = AddLabel(sound, QStringLiteral("Render tones:"), 8, renderY + 4, 90, 17);
    RenderTonesCombo = new QComboBox(sound);
    RenderTonesCombo->addItems(
        {QStringLiteral("one thread per tone"), QStringLiteral("one thread per processor core")});
    RenderTonesCombo->setGeometry(100, renderY, 237,
                                  std::max(21, RenderTonesCombo->sizeHint().height()));
    RenderTonesCombo->setToolTip(
        QStringLiteral("A thread per tone suits small banks; with many more tones than "
                       "processor cores, one thread per core plays large banks without late "
                       "blocks. The bank is built anew when this changes."));

    // Tab "Input"
    auto* input = new QWidget;
    Tabs->addTab(input, QStringLiteral("Input"));
    ResonanceRateLabel =
        AddLabel(input, QStringLiteral("Resonance Adjustment Rate:"), 8, 8, 329, 17);
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
    MiddleRaisesRadio = new QRadioButton(
        QStringLiteral("Use middle-click to raise, right-click to lower."), ResonanceButtonsGroup);
    MiddleRaisesRadio->setGeometry(8, 18, 313, 20);
    RightRaisesRadio = new QRadioButton(
        QStringLiteral("Use right-click to raise, middle-click to lower."), ResonanceButtonsGroup);
    RightRaisesRadio->setGeometry(8, 40, 313, 20);
    MiddleRaisesRadio->setChecked(true);
    MousePressureBox = AddCheck(input, QStringLiteral("Apply pressure with the left mouse button."),
                                8, 160, 233, false);
    // The font may be wider than the one the layout was drawn for: let the text show whole and
    // keep the icon beside it.
    MousePressureBox->resize(std::max(233, MousePressureBox->sizeHint().width()),
                             MousePressureBox->height());
    MousePressureInfo = new QLabel(input);
    MousePressureInfo->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(16, 16));
    MousePressureInfo->setGeometry(std::max(240, MousePressureBox->geometry().right() + 8), 160, 16,
                                   16);
    MousePressureInfo->setToolTip(QStringLiteral("Turning this on disables pressure sensitivity."));
    MouseGlideBox = AddCheck(input, QStringLiteral("Mouse drag plays every bar it crosses"), 8, 184,
                             329, false);
    MouseGlideBox->setToolTip(QStringLiteral(
        "Off: a bar sounds only when the mouse button is pressed on it. On: holding the button "
        "and dragging plays each bar the pointer crosses."));

    // Tab "Display"
    auto* display = new QWidget;
    Tabs->addTab(display, QStringLiteral("Display"));
    ColoredBarsBox = AddCheck(display, QStringLiteral("Show colored bars."), 8, 8, 329, true);
    FrequencyLabelsBox =
        AddCheck(display, QStringLiteral("Label the bars with their"), 8, 32, 329, true);
    FrequencyLabelsBox->resize(FrequencyLabelsBox->sizeHint().width(),
                               FrequencyLabelsBox->height());
    LabelKindCombo = new QComboBox(display);
    LabelKindCombo->addItems({QStringLiteral("frequency (Hz)"), QStringLiteral("cents"),
                              QStringLiteral("ratio"), QStringLiteral("scale degree")});
    LabelKindCombo->setGeometry(FrequencyLabelsBox->geometry().right() + 6, 30, 120,
                                std::max(21, LabelKindCombo->sizeHint().height()));
    LabelKindCombo->setToolTip(QStringLiteral(
        "What each bar's label says: its frequency, its distance from the scale's 1/1 in cents, "
        "its frequency ratio to the 1/1, or its degree in the scale (an arrow: a period up or "
        "down)."));
    TwoRowsBox = AddCheck(display, QStringLiteral("Show bars in 2 rows."), 8, 56, 329, false);
    RestoreSessionBox = AddCheck(
        display, QStringLiteral("Open the last scale and parameters at start."), 8, 80, 329, true);
    LevelsNote = AddLabel(
        display,
        QStringLiteral("Turning off the levels displays below may reduce processing load."), 8, 104,
        329, 17);
    // Below the note, however many lines it wraps to.
    const int levelsY = std::max(128, LevelsNote->geometry().bottom() + 7);
    MainLevelsBox =
        AddCheck(display, QStringLiteral("Show main volume levels."), 24, levelsY, 313, true);
    PressureLevelBox = AddCheck(display, QStringLiteral("Show pressure level in the status bar."),
                                24, levelsY + 24, 313, true);

    MidiTab = new TMidiSettingsTab(instrument_, owner_.Midi);
    Tabs->addTab(MidiTab, QStringLiteral("MIDI"));

    // The lists answer the player only; check boxes, radio buttons and the track bar also answer
    // a change made from code, and only a real change.
    connect(DriverCombo, &QComboBox::activated, this, [this] { DriverComboChange(); });
    connect(ChannelBox, &QComboBox::activated, this, [this] { ChannelBoxChange(); });
    connect(DriverPanelButton, &QPushButton::clicked, this, [this] { DriverPanelClick(); });
    connect(StereoBox, &QCheckBox::toggled, this, [this] { StereoBoxClick(); });
    connect(LimiterBox, &QCheckBox::toggled, this, [this] { LimiterBoxClick(); });
    connect(InterpolateBox, &QCheckBox::toggled, this, [this] { InterpolateBoxClick(); });
    connect(RefreshTonesLink, &QLabel::linkActivated, this, [this] { RefreshTonesClick(); });
    connect(RenderTonesCombo, &QComboBox::activated, this, [this] { RenderTonesComboChange(); });
    connect(ResonanceRateSlider, &QSlider::valueChanged, this, [this] { ResonanceRateChange(); });
    for (QRadioButton* r : {MiddleRaisesRadio, RightRaisesRadio}) {
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on) {
                ResonanceButtonsClick();
            }
        });
    }
    connect(MousePressureBox, &QCheckBox::toggled, this, [this] { MousePressureBoxClick(); });
    connect(MouseGlideBox, &QCheckBox::toggled, this, [this] { MouseGlideBoxClick(); });
    connect(ColoredBarsBox, &QCheckBox::toggled, this, [this] { ColoredBarsBoxClick(); });
    connect(FrequencyLabelsBox, &QCheckBox::toggled, this, [this] { FrequencyLabelsBoxClick(); });
    connect(TwoRowsBox, &QCheckBox::toggled, this, [this] { TwoRowsBoxClick(); });
    connect(LabelKindCombo, &QComboBox::activated, this, [this] {
        instrument_.Settings().SetLabelKind(LabelKindCombo->currentIndex());
        Call(owner_.RepaintToneZone);
    });
    connect(RestoreSessionBox, &QCheckBox::toggled, this,
            [this] { instrument_.Settings().SetRestoreSession(RestoreSessionBox->isChecked()); });
    connect(MainLevelsBox, &QCheckBox::toggled, this, [this] { MainLevelsBoxClick(); });
    connect(PressureLevelBox, &QCheckBox::toggled, this, [this] { PressureLevelBoxClick(); });
}

void TSettingsDialog::FillDriverList() {
    DriverCombo->clear();
    for (const std::string& name : instrument_.Audio().DriverList()) {
        DriverCombo->addItem(QString::fromStdString(name));
    }
    DriverCombo->setCurrentIndex(-1);
}

// Sound tab

void TSettingsDialog::ShowChannelPairs() {
    ChannelBox->clear();
    for (const std::string& pair : instrument_.Audio().ChannelPairNames()) {
        ChannelBox->addItem(QString::fromStdString(pair));
    }
    ChannelBox->setCurrentIndex(instrument_.Audio().ChannelPair());
}

void TSettingsDialog::DriverComboChange() {
    DriverPanelButton->setEnabled(false);
    instrument_.Audio().SelectDriver(DriverCombo->currentIndex());
    DriverCombo->setCurrentIndex(instrument_.Audio().DriverIndex());
    if (instrument_.Audio().DriverIndex() < 0) {
        return; // the channel list stays as it was
    }
    DriverPanelButton->setEnabled(true);
    ShowChannelPairs();
}

void TSettingsDialog::ChannelBoxChange() {
    instrument_.Audio().SelectChannelPair(ChannelBox->currentIndex());
}

void TSettingsDialog::DriverPanelClick() {
    instrument_.Audio().OpenDriverPanel();
}

void TSettingsDialog::StereoBoxClick() {
    instrument_.Settings().SetStereoSeparation(StereoBox->isChecked());
}

void TSettingsDialog::LimiterBoxClick() {
    instrument_.Settings().SetLimiter(LimiterBox->isChecked());
    if (owner_.ShowLimiter) {
        owner_.ShowLimiter(LimiterBox->isChecked());
    }
}

void TSettingsDialog::InterpolateBoxClick() {
    instrument_.Settings().SetInterpolateDelays(InterpolateBox->isChecked());
}

void TSettingsDialog::RefreshTonesClick() {
    instrument_.RefreshTones();
}

void TSettingsDialog::RenderTonesComboChange() {
    instrument_.Settings().SetToneThreads(RenderTonesCombo->currentIndex() == 1,
                                          instrument_.Settings().Stored().PoolThreads);
}

// Input tab

void TSettingsDialog::ResonanceRateChange() {
    instrument_.Settings().SetResonanceRate(ResonanceRateSlider->value());
    if (owner_.SetRezTimerInterval) {
        owner_.SetRezTimerInterval(ResTimerStepMs * ResonanceRateSlider->value());
    }
}

void TSettingsDialog::ResonanceButtonsClick() {
    instrument_.Settings().SetResonanceControl(ResonanceButtonsIndex());
}

void TSettingsDialog::MousePressureBoxClick() {
    instrument_.Settings().SetMousePressure(MousePressureBox->isChecked());
    // The tablet's context is off while the mouse applies pressure.
    tablet_.SetEnabled(!MousePressureBox->isChecked());
    SetStatus(owner_, StatusInputPanel,
              tablet_.Enabled() ? QString::fromStdString(tablet_.DeviceName())
                                : QString::fromUtf8(text::StandardMouse));
}

void TSettingsDialog::MouseGlideBoxClick() {
    instrument_.Settings().SetMouseGlide(MouseGlideBox->isChecked());
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
    instrument_.Settings().SetColoredToneZone(ColoredBarsBox->isChecked());
    Call(owner_.RepaintToneZone);
}

void TSettingsDialog::FrequencyLabelsBoxClick() {
    instrument_.Settings().SetShowFrequencyLabels(FrequencyLabelsBox->isChecked());
    Call(owner_.RepaintToneZone);
}

void TSettingsDialog::TwoRowsBoxClick() {
    instrument_.Settings().SetPaint2Rows(TwoRowsBox->isChecked());
    Call(owner_.RepaintToneZone);
}

void TSettingsDialog::MainLevelsBoxClick() {
    instrument_.Settings().SetShowMainLevels(MainLevelsBox->isChecked());
    Call(owner_.ResetLevelBars);
    if (owner_.SetLevelTimerEnabled) {
        owner_.SetLevelTimerEnabled(MainLevelsBox->isChecked());
    }
}

void TSettingsDialog::PressureLevelBoxClick() {
    instrument_.Settings().SetShowPressureLevel(PressureLevelBox->isChecked());
    Call(owner_.ResetPressureBar);
}

// The settings read from the file

namespace {

// Sets a control to the instrument's value and runs its handler only on a real change, as a
// change made from code does; the instrument already holds the value, so setting it again
// changes nothing there.
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

void SetCheck(TSettingsDialog& form, QCheckBox* box, bool value,
              void (TSettingsDialog::*handler)()) {
    SetAndRun(
        box, box->isChecked() != value, [&] { box->setChecked(value); },
        [&] { (form.*handler)(); });
}

} // namespace

void TSettingsDialog::ShowInstrumentSettings() {
    const TVarkoSettings& s = instrument_.Settings().Stored();
    {
        const QSignalBlocker blockDriver(DriverCombo);
        const QSignalBlocker blockChannel(ChannelBox);
        DriverCombo->setCurrentIndex(instrument_.Audio().DriverIndex());
        DriverPanelButton->setEnabled(instrument_.Audio().DriverIndex() >= 0);
        if (instrument_.Audio().DriverIndex() >= 0) {
            ShowChannelPairs();
        } else {
            ChannelBox->setCurrentIndex(-1);
        }
    }
    SetCheck(*this, StereoBox, s.StereoSeparation, &TSettingsDialog::StereoBoxClick);
    SetCheck(*this, LimiterBox, s.Limiter, &TSettingsDialog::LimiterBoxClick);
    SetCheck(*this, InterpolateBox, s.InterpolateDelays, &TSettingsDialog::InterpolateBoxClick);
    {
        const QSignalBlocker block(RenderTonesCombo);
        RenderTonesCombo->setCurrentIndex(s.ToneThreadsPerCore ? 1 : 0);
    }
    if (s.ResonanceControl != ResonanceButtonsIndex()) {
        const QSignalBlocker b0(MiddleRaisesRadio);
        const QSignalBlocker b1(RightRaisesRadio);
        SetResonanceButtonsIndex(s.ResonanceControl);
    }
    SetAndRun(
        ResonanceRateSlider, ResonanceRateSlider->value() != s.ResonanceRate,
        [&] { ResonanceRateSlider->setValue(s.ResonanceRate); }, [&] { ResonanceRateChange(); });
    SetCheck(*this, MousePressureBox, s.AllowMouse, &TSettingsDialog::MousePressureBoxClick);
    SetCheck(*this, MouseGlideBox, s.MouseGlide, &TSettingsDialog::MouseGlideBoxClick);
    SetCheck(*this, MainLevelsBox, s.ShowMainLevels, &TSettingsDialog::MainLevelsBoxClick);
    SetCheck(*this, PressureLevelBox, s.ShowPressureLevel, &TSettingsDialog::PressureLevelBoxClick);
    SetCheck(*this, FrequencyLabelsBox, s.ShowFrequencyLabels,
             &TSettingsDialog::FrequencyLabelsBoxClick);
    SetCheck(*this, TwoRowsBox, s.Paint2Rows, &TSettingsDialog::TwoRowsBoxClick);
    {
        const QSignalBlocker block(RestoreSessionBox);
        RestoreSessionBox->setChecked(s.RestoreSession);
        LabelKindCombo->setCurrentIndex(s.LabelKind);
    }
    SetCheck(*this, ColoredBarsBox, s.ColoredToneZone, &TSettingsDialog::ColoredBarsBoxClick);
    MidiTab->ShowInstrumentSettings();
}

} // namespace varko
