// Building the main window's controls and wiring them to the instrument; the Parameters
// panel is built in MainWindowParameters.
#include "ui/MainWindow.h"

#include "core/Texts.h"
#include "engine/FaderLaws.h"
#include "ui/ClipLed.h"
#include "ui/Fader.h"
#include "ui/ImageButton.h"
#include "ui/LevelMeter.h"
#include "ui/LinkLabel.h"
#include "ui/Resources.h"
#include "ui/StatusPanels.h"
#include "ui/ToneZone.h"
#include "ui/UpDown.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace varko {

QWidget* TMainWindow::AddPanelTitle(QWidget* panel, const QString& title, TLinkLabel*& close) {
    auto* bar = new QWidget(panel);
    bar->setFixedHeight(20);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(218, 218, 218));
    bar->setPalette(pal);
    auto* caption = new QLabel(title, bar);
    QFont f = caption->font();
    f.setBold(true);
    caption->setFont(f);
    close = new TLinkLabel(QStringLiteral("×"), bar, false);
    close->setFixedSize(16, 18);
    close->setAlignment(Qt::AlignCenter);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 0, 2, 0);
    row->addWidget(caption, 1);
    row->addWidget(close);
    return bar;
}

void TMainWindow::BuildControls() {
    InitResources();
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Varko"));
    setWindowIcon(QIcon(QPixmap::fromImage(ResourceImage(QStringLiteral("AppIcon")))));
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    resize(DesignSize);
    setMinimumSize(MinimumSize);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    ToolbarPanel = new QWidget(this);
    ToolbarPanel->setFixedHeight(49);
    ToolbarPanel->setAutoFillBackground(true);
    QPalette tp = ToolbarPanel->palette();
    tp.setColor(QPalette::Window, QColor(218, 218, 218));
    ToolbarPanel->setPalette(tp);
    root->addWidget(ToolbarPanel);
    struct Btn {
        TImageButton*& button;
        const char* name;
        const char* hint;
    };
    const Btn buttons[] = {{OpenScaleBtn, "OpenScaleBtn", "Open Scale"},
                           {ParametersBtn, "ParametersBtn", "Parameters"},
                           {ContentsBtn, "ContentsBtn", "Scale Contents"},
                           {SettingsBtn, "SettingsBtn", "Settings"},
                           {HelpBtn, "HelpBtn", "Help"},
                           {RecordBtn, "RecordBtn", text::RecordTitle},
                           {ReplayBtn, "ReplayBtn", text::ReplayTitle},
                           {RestartBtn, "RestartBtn", "Restart Audio"}};
    int x = 0;
    for (const Btn& b : buttons) {
        b.button = new TImageButton(ToolbarPanel);
        SetupToolbarButton(*b.button, QString::fromUtf8(b.name));
        b.button->move(x, 0);
        b.button->setToolTip(QString::fromUtf8(b.hint));
        b.button->setToolTipDuration(30000);
        x += 48;
    }
    RestartBtn->hide();
    OpenScaleBtn->OnClick = [this](TImageButton*) { OpenScaleBtnClick(); };
    ParametersBtn->OnClick = [this](TImageButton*) { ParametersBtnClick(); };
    ContentsBtn->OnClick = [this](TImageButton*) { ContentsBtnClick(); };
    SettingsBtn->OnClick = [this](TImageButton*) { SettingsBtnClick(); };
    HelpBtn->OnClick = [this](TImageButton*) { HelpBtnClick(); };
    RestartBtn->OnClick = [this](TImageButton*) { RestartBtnClick(); };

    auto* tbLayout = new QHBoxLayout(ToolbarPanel);
    tbLayout->setContentsMargins(0, 0, 6, 0);
    tbLayout->addStretch(1);
    auto* meters = new QWidget(ToolbarPanel);
    meters->setFixedSize(34, 49);
    tbLayout->addWidget(meters);
    LeftClipLed = new TClipLed(meters);
    LeftClipLed->setGeometry(0, 0, 12, 4);
    RightClipLed = new TClipLed(meters);
    RightClipLed->setGeometry(14, 0, 12, 4);
    LeftMeter = new TLevelMeter(meters);
    RightMeter = new TLevelMeter(meters);
    LeftMeter->setGeometry(0, 4, 12, 45);
    RightMeter->setGeometry(14, 4, 12, 45);
    LimiterMeter = new QProgressBar(meters);
    LimiterMeter->setOrientation(Qt::Vertical);
    LimiterMeter->setInvertedAppearance(true);
    LimiterMeter->setTextVisible(false);
    LimiterMeter->setRange(0, 12);
    LimiterMeter->setValue(0);
    LimiterMeter->setGeometry(28, 4, 6, 45);
    LimiterMeter->setToolTip(QStringLiteral(
        "Limiter: how far it turns the sound down, 0 to 12 dB. The lamps above the meters "
        "light when the sound before the limiter reaches full scale."));

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    root->addLayout(middle, 1);

    ParametersPanel = new QWidget(this);
    ParametersPanel->setFixedWidth(ParametersWidth);
    BuildParametersPanel();
    ParametersPanel->hide();
    middle->addWidget(ParametersPanel);

    ToneZone = new TToneZone(this);
    ToneZone->setMinimumSize(1, 1);
    middle->addWidget(ToneZone, 1);

    ScaleContentsPanel = new QWidget(this);
    ScaleContentsPanel->setFixedWidth(182);
    QWidget* contentsTitle =
        AddPanelTitle(ScaleContentsPanel, QStringLiteral("Scale Contents"), CloseContentsLink);
    ScaleContentsBox = new QPlainTextEdit(ScaleContentsPanel);
    ScaleContentsBox->setReadOnly(true);
    ScaleContentsBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    ScaleContentsBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ScaleContentsBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* cl = new QVBoxLayout(ScaleContentsPanel);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(2);
    cl->addWidget(contentsTitle);
    auto* box = new QHBoxLayout;
    box->setContentsMargins(2, 0, 2, 2);
    box->addWidget(ScaleContentsBox);
    cl->addLayout(box, 1);
    ScaleContentsPanel->hide();
    middle->addWidget(ScaleContentsPanel);
    CloseContentsLink->OnClick = [this] { ContentsBtnClick(); };

    StatusBar = new TStatusPanels(this);
    root->addWidget(StatusBar);
    StatusBar->SetText(0, QString::fromUtf8(text::NoTablet));
    StatusBar->OnDrawPanel = [this](QPainter& p) { DrawPressurePanel(p); };

    HelpPanel = new QWidget(this);
    HelpPanel->setGeometry(200, 49, 113, 59);
    HelpPanel->setAutoFillBackground(true);
    HelpPanel->setStyleSheet(QStringLiteral(
        "QWidget#HelpPanel { background: rgb(240,240,240); border: 1px solid rgb(200,200,200); }"));
    HelpPanel->setObjectName(QStringLiteral("HelpPanel")); // before it is polished
    HelpMenuItem = new TLinkLabel(QStringLiteral("User Guide (F1)"), HelpPanel);
    HelpMenuItem->move(8, 4);
    GetScaleFilesMenuItem = new TLinkLabel(QStringLiteral("Get more scale files"), HelpPanel);
    GetScaleFilesMenuItem->move(8, 21);
    AboutMenuItem = new TLinkLabel(QStringLiteral("About..."), HelpPanel);
    AboutMenuItem->move(8, 38);
    CloseHelpLink = new TLinkLabel(QStringLiteral("×"), HelpPanel, false);
    CloseHelpLink->setGeometry(98, 1, 14, 14);
    // 113 pixels wide for its links, or wider when the desktop's font needs it.
    int helpWidth = 113;
    for (QLabel* l :
         {static_cast<QLabel*>(HelpMenuItem), static_cast<QLabel*>(GetScaleFilesMenuItem),
          static_cast<QLabel*>(AboutMenuItem)}) {
        l->adjustSize();
        helpWidth = std::max(helpWidth, l->width() + 26);
    }
    HelpPanel->resize(helpWidth, 59);
    CloseHelpLink->move(helpWidth - 15, 1);
    HelpMenuItem->OnClick = [this] { HelpMenuItemClick(); };
    GetScaleFilesMenuItem->OnClick = [this] { GetScaleFilesMenuItemClick(); };
    AboutMenuItem->OnClick = [this] { AboutMenuItemClick(); };
    CloseHelpLink->OnClick = [this] { HelpPanel->hide(); };
    HelpPanel->hide();

    BuildTimers();
    BuildRecordingControls();
    NameControls();
    ConnectPlaying();
    // Function keys whatever control has the focus.
    qApp->installEventFilter(this);
}

void TMainWindow::NameControls() {
#define NAMED(member) std::pair<QObject*, const char*>(member, #member)
    // clang-format off
    const std::pair<QObject*, const char*> controls[] = {
        NAMED(ToolbarPanel), NAMED(OpenScaleBtn), NAMED(ParametersBtn), NAMED(ContentsBtn),
        NAMED(SettingsBtn), NAMED(HelpBtn), NAMED(RestartBtn), NAMED(RecordBtn), NAMED(ReplayBtn),
        NAMED(RecordingLabel), NAMED(LeftClipLed), NAMED(RightClipLed), NAMED(LeftMeter),
        NAMED(RightMeter), NAMED(LimiterMeter), NAMED(StatusBar), NAMED(ToneZone),
        NAMED(ParametersPanel), NAMED(ParametersScroll), NAMED(CloseParametersLink),
        NAMED(InitialFrequencyEdit), NAMED(NoSoundWarning), NAMED(RepeatDownEdit),
        NAMED(RepeatDownArrows), NAMED(RepeatUpEdit), NAMED(RepeatUpArrows), NAMED(RepeatEndsBox),
        NAMED(InternalObject), NAMED(ExternalObject), NAMED(ModeWeightingLabel),
        NAMED(ModeWeightingSlider), NAMED(ModeWeightingFormula), NAMED(ModeWeightingExponent),
        NAMED(ModeFilesCombo), NAMED(ModeFileWarning), NAMED(ObjectGroup), NAMED(EndTypeGroup),
        NAMED(EndFreeRadio), NAMED(EndFixedRadio), NAMED(EndHingedRadio), NAMED(ModeLimitEdit),
        NAMED(KbmNameLabel), NAMED(OpenKbmLink), NAMED(NoKbmLink), NAMED(ModeLimitArrows),
        NAMED(ResonanceFader), NAMED(ResonanceReset), NAMED(MasterFader), NAMED(MasterLevelReset),
        NAMED(ApplyParametersBtn), NAMED(ScaleContentsPanel), NAMED(CloseContentsLink),
        NAMED(ScaleContentsBox), NAMED(HelpPanel), NAMED(HelpMenuItem),
        NAMED(GetScaleFilesMenuItem), NAMED(AboutMenuItem), NAMED(CloseHelpLink), NAMED(LevelTimer),
        NAMED(LeftClipOffTimer), NAMED(RightClipOffTimer), NAMED(Watchdog), NAMED(AudioWatchTimer),
        NAMED(RezDownTimer), NAMED(RezUpTimer), NAMED(ReplayTimer), NAMED(RecordingTimer),
    };
    // clang-format on
#undef NAMED
    for (const auto& [control, name] : controls) {
        control->setObjectName(QString::fromLatin1(name));
    }
}

void TMainWindow::BuildTimers() {
    auto makeTimer = [this](int interval, auto handler) {
        auto* t = new QTimer(this);
        t->setInterval(interval);
        connect(t, &QTimer::timeout, this, handler);
        return t;
    };
    LevelTimer = makeTimer(50, &TMainWindow::LevelTimerTick);
    LeftClipOffTimer = makeTimer(1000, &TMainWindow::LeftClipOffTimerTimer);
    RightClipOffTimer = makeTimer(1000, &TMainWindow::RightClipOffTimerTimer);
    Watchdog = makeTimer(5000, &TMainWindow::WatchdogTick);
    AudioWatchTimer = makeTimer(250, [this] { Instrument.Audio().WatchAudio(); });
    RezDownTimer = makeTimer(30, [this] { Playing().RezDownTimerTimer(); });
    RezUpTimer = makeTimer(30, [this] { Playing().RezUpTimerTimer(); });
}

void TMainWindow::ConnectPlaying() {
    TPlaying& play = Playing();
    ToneZone->OnMouseMove = [this](int zx, int zy) {
        const QPoint c = QCursor::pos();
        Playing().ToneZoneMouseMove(ToneZone->Geometry(), ToneZone->BarWidthReciprocal(), zx, zy,
                                    static_cast<float>(c.x()), static_cast<float>(c.y()));
    };
    ToneZone->OnMouseDown = [this](TMouseButton b, int, int) { Playing().PointerDown(b); };
    ToneZone->OnMouseUp = [this](TMouseButton b, int, int) { Playing().PointerUp(b); };
    play.OnResonanceFaderChanged = [this](int p) {
        const QSignalBlocker block(ResonanceFader);
        ResonanceFader->setValue(p);
    };
    play.OnPressureBarChanged = [this] {
        // Painted with the next frame: a replay's flood of pen events once spent 15 s in a
        // repaint each.
        StatusBar->update();
    };
    play.OnRezTimersChanged = [this] {
        auto follow = [](QTimer* t, bool on) {
            if (on && !t->isActive()) {
                t->start();
            } else if (!on) {
                t->stop();
            }
        };
        follow(RezDownTimer, Playing().RezDownTimerEnabled);
        follow(RezUpTimer, Playing().RezUpTimerEnabled);
    };
}

} // namespace varko
