#include "ui/MainWindow.h"

#include "audio/AsioHost.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/DriverPanelDialog.h"
#include "ui/dialogs/SettingsIO.h"
#include "ui/dialogs/AudioStoppedNotice.h"
#include "core/Texts.h"
#include "ui/dialogs/CrashWindow.h"
#include "ui/dialogs/NoAudioDeviceNotice.h"
#include "ui/dialogs/NoTabletNotice.h"
#include "engine/ToneBank.h"
#include "dsp/BarModes.h"
#include "files/SettingsFile.h"
#include "ui/AudioHostFactory.h"
#include "ui/ImageButton.h"
#include "ui/Resources.h"
#include "ui/TabletEventSource.h"
#include "ui/ToneZone.h"
#include "ui/VarkoApplication.h"
#include "ui/WindowParts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace varko {

TMainWindow* MainWin = nullptr;

std::function<int(QDialog&)> TMainWindow::ExecModal = [](QDialog& d) { return d.exec(); };
std::function<void(int)> TMainWindow::Halt = [](int code) { std::_Exit(code); };
std::function<void(const QUrl&)> TMainWindow::OpenUrl = [](const QUrl& url) {
    QDesktopServices::openUrl(url);
};
std::function<uint32_t()> TMainWindow::TickCount = [] {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
};
std::function<std::unique_ptr<IAudioHost>()> TMainWindow::CreateHost = [] {
    return CreateAudioHost();
};
std::function<void(TTabletEventSource&)> TMainWindow::ProbeTablet;
std::function<std::unique_ptr<TWaveguideThread>()> TMainWindow::MakeOscillator;

namespace {

// The playing values go to the engine's oscillators while there is an engine.
class TWindowTones : public IToneTarget {
public:
    explicit TWindowTones(std::unique_ptr<TAudioEngine>& engine) : engine_(engine) {}
    int ToneCount() const override {
        return engine_ ? static_cast<int>(engine_->Oscillators.size()) : 0;
    }
    void SetPressure(int t, float v) override { At(t).Pressure.store(v, Relaxed); }
    void SetSpeed(int t, float v) override { At(t).Speed.store(v, Relaxed); }
    void SetStrikePosition(int t, float v) override { At(t).StrikePosition.store(v, Relaxed); }
    void SetResonance(int t, float v) override { At(t).Resonance.store(v, Relaxed); }

private:
    static constexpr auto Relaxed = std::memory_order_relaxed;
    TWaveguideThread& At(int t) { return *engine_->Oscillators[static_cast<size_t>(t)]; }
    std::unique_ptr<TAudioEngine>& engine_;
};

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, bool bold = false) {
    auto* l = new QLabel(text, parent);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLabel* AddWarnIcon(QWidget* parent, const char* hint, int x, int y) {
    auto* icon = new QLabel(parent);
    icon->setPixmap(QPixmap::fromImage(ResourceImage(QStringLiteral("Warning16"))));
    icon->setGeometry(x, y, 16, 16);
    icon->setToolTip(QString::fromUtf8(hint));
    icon->setToolTipDuration(30000);
    icon->hide();
    return icon;
}

QSlider* AddFader(QWidget* parent, int position, int x, int y, int h) {
    auto* s = new QSlider(Qt::Vertical, parent);
    s->setRange(0, 200);
    s->setValue(position);
    // Position 0 at the top, as the faders are read.
    s->setInvertedAppearance(true);
    s->setInvertedControls(true);
    s->setTickInterval(10);
    s->setTickPosition(QSlider::TicksBothSides);
    s->setSingleStep(1);
    s->setPageStep(10);
    s->setGeometry(x, y, 40, h);
    return s;
}

// A title bar with a close cross, on top of a side panel.
TLinkLabel* AddPanelTitle(QWidget* panel, const QString& title, int width) {
    auto* bar = new QLabel(QStringLiteral("  ") + title, panel);
    bar->setGeometry(0, 0, width, 20);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(218, 218, 218));
    bar->setPalette(pal);
    QFont f = bar->font();
    f.setBold(true);
    bar->setFont(f);
    auto* close = new TLinkLabel(QStringLiteral("×"), panel, false);
    close->setGeometry(width - 18, 1, 16, 18);
    close->setAlignment(Qt::AlignCenter);
    return close;
}

// A loudspeaker drawn in the label's text colour.
QPixmap Loudspeaker(const QColor& colour) {
    QPixmap pm(20, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const QPointF body[] = {{1, 5}, {5, 5}, {10, 1}, {10, 15}, {5, 11}, {1, 11}};
    p.drawPolygon(body, 6);
    p.setPen(QPen(colour, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 4, 6, 8), -60 * 16, 120 * 16);
    p.drawArc(QRectF(8, 1, 10, 14), -60 * 16, 120 * 16);
    return pm;
}

// Raw file bytes as text: UTF-8 when valid, else Latin-1 (the scale archive holds both).
QString FileText(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString s = utf8(QByteArray::fromStdString(bytes));
    if (utf8.hasError()) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    return s;
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

TMainWindow::TMainWindow(QWidget* parent) : QWidget(parent) {
    MainWin = this;
    tones_ = std::make_unique<TWindowTones>(Engine);
    playing_ = std::make_unique<TPlaying>(*tones_);
    BuildControls();
    StartUp();
}

TMainWindow::~TMainWindow() {
    ShutDown();
    TVarkoApplication::OnException = nullptr;
    qApp->removeEventFilter(this);
    delete Settings; // it refers to the tablet and the playing state
    Settings = nullptr;
    if (MainWin == this) {
        MainWin = nullptr;
    }
}

// ---------------------------------------------------------------------------------------
// Controls

void TMainWindow::BuildControls() {
    InitResources();
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Varko"));
    setWindowIcon(QIcon(QPixmap::fromImage(ResourceImage(QStringLiteral("AppIcon")))));
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    resize(790, 701);

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
                           {RestartBtn, "RestartBtn", "Restart Audio"}};
    int x = 0;
    for (const Btn& b : buttons) {
        b.button = new TImageButton(ToolbarPanel);
        SetupToolbarButton(*b.button, QString::fromUtf8(b.name));
        b.button->setObjectName(QString::fromUtf8(b.name));
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
    meters->setFixedSize(26, 49);
    tbLayout->addWidget(meters);
    LeftClipLed = new TClipLed(meters);
    LeftClipLed->setGeometry(0, 0, 12, 4);
    RightClipLed = new TClipLed(meters);
    RightClipLed->setGeometry(14, 0, 12, 4);
    LeftMeter = new QProgressBar(meters);
    RightMeter = new QProgressBar(meters);
    int mx = 0;
    for (QProgressBar* m : {LeftMeter, RightMeter}) {
        m->setOrientation(Qt::Vertical);
        m->setRange(0, 60);
        m->setValue(0);
        m->setTextVisible(false);
        m->setGeometry(mx, 4, 12, 45);
        mx += 14;
    }

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    root->addLayout(middle, 1);

    ParametersPanel = new QWidget(this);
    ParametersPanel->setFixedWidth(241);
    BuildParametersPanel();
    ParametersPanel->hide();
    middle->addWidget(ParametersPanel);

    ToneZone = new TToneZone(this);
    ToneZone->setMinimumSize(1, 1);
    middle->addWidget(ToneZone, 1);

    ScaleContentsPanel = new QWidget(this);
    ScaleContentsPanel->setFixedWidth(182);
    CloseContentsLblBtn = AddPanelTitle(ScaleContentsPanel, QStringLiteral("Scale Contents"), 182);
    ScaleContentsBox = new QPlainTextEdit(ScaleContentsPanel);
    ScaleContentsBox->setReadOnly(true);
    ScaleContentsBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    ScaleContentsBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ScaleContentsBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* cl = new QVBoxLayout(ScaleContentsPanel);
    cl->setContentsMargins(2, 22, 2, 2);
    cl->addWidget(ScaleContentsBox);
    ScaleContentsPanel->hide();
    middle->addWidget(ScaleContentsPanel);
    CloseContentsLblBtn->OnClick = [this] { ContentsBtnClick(); };

    StatusBar = new TStatusPanels(this);
    root->addWidget(StatusBar);
    StatusBar->SetText(0, QString::fromUtf8(text::NoTablet));
    StatusBar->OnDrawPanel = [this](QPainter& p) { DrawPressurePanel(p); };
    PressureBar = new QProgressBar(this);
    PressureBar->setRange(0, 100);
    PressureBar->setValue(0);
    PressureBar->setTextVisible(false);
    PressureBar->resize(97, 10);
    PressureBar->hide();

    HelpPanel = new QWidget(this);
    HelpPanel->setGeometry(200, 49, 113, 59);
    HelpPanel->setAutoFillBackground(true);
    HelpPanel->setStyleSheet(QStringLiteral(
        "QWidget#HelpPanel { background: rgb(240,240,240); border: 1px solid rgb(200,200,200); }"));
    HelpPanel->setObjectName(QStringLiteral("HelpPanel"));
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
    RezDownTimer = makeTimer(30, [this] { Playing().RezDownTimerTimer(); });
    RezUpTimer = makeTimer(30, [this] { Playing().RezUpTimerTimer(); });

    // Playing
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
        PressureBar->setMaximum(Playing().PressureBarMax);
        PressureBar->setValue(Playing().PressureBarPosition);
        StatusBar->repaint();
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

    // Function keys whatever control has the focus.
    qApp->installEventFilter(this);
}

void TMainWindow::BuildParametersPanel() {
    QWidget* p = ParametersPanel;
    CloseParametersLblBtn = AddPanelTitle(p, QStringLiteral("Parameters"), 241);
    CloseParametersLblBtn->OnClick = [this] { ParametersBtnClick(); };

    AddLabel(p, QStringLiteral("Initial Frequency:"), 8, 31);
    InitialFrequencyEdit = new QLineEdit(QStringLiteral("200"), p);
    InitialFrequencyEdit->setGeometry(112, 28, 64, 21);
    AddLabel(p, QStringLiteral("Hz"), 180, 31);
    NoSoundWarning = AddWarnIcon(p, text::WarnNoSound, 200, 31);

    AddLabel(p, QStringLiteral("Repeat scale downwards"), 8, 57);
    RepeatDownEdit = new QLineEdit(QStringLiteral("0"), p);
    RepeatDownEdit->setGeometry(150, 54, 28, 21);
    RepeatDownArrows = new TUpDown(RepeatDownEdit, 0, MaxRepeatCount, 0, p);
    RepeatDownArrows->setGeometry(178, 54, 14, 21);
    AddLabel(p, QStringLiteral("time(s)"), 196, 57);
    AddLabel(p, QStringLiteral("Repeat scale upwards"), 8, 83);
    RepeatUpEdit = new QLineEdit(QStringLiteral("0"), p);
    RepeatUpEdit->setGeometry(150, 80, 28, 21);
    RepeatUpArrows = new TUpDown(RepeatUpEdit, 0, MaxRepeatCount, 0, p);
    RepeatUpArrows->setGeometry(178, 80, 14, 21);
    AddLabel(p, QStringLiteral("time(s)"), 196, 83);
    // A check box does not wrap its caption; the caption is a label beside it that toggles it.
    RepeatEndsChk = new QCheckBox(p);
    RepeatEndsChk->setGeometry(8, 108, 20, 20);
    RepeatEndsChk->setAccessibleName(
        QStringLiteral("Repeat the first and last tones of the scale"));
    auto* repeatEnds =
        new TLinkLabel(QStringLiteral("Repeat the first and last tones of the scale"), p, false);
    repeatEnds->setWordWrap(true);
    repeatEnds->setCursor(Qt::ArrowCursor);
    repeatEnds->setGeometry(28, 106, 205, 30);
    repeatEnds->OnClick = [this] { RepeatEndsChk->toggle(); };
    RepeatDownArrows->OnChangingEx = [this](int v) {
        RepeatDownCount = std::max(v, 0);
        return true;
    };
    RepeatUpArrows->OnChangingEx = [this](int v) {
        RepeatUpCount = std::max(v, 0);
        return true;
    };
    connect(RepeatDownEdit, &QLineEdit::textChanged, this, &TMainWindow::RepeatDownEditChange);
    connect(RepeatUpEdit, &QLineEdit::textChanged, this, &TMainWindow::RepeatUpEditChange);

    AddLabel(p, QStringLiteral("Object Type:"), 8, 139, true);
    ObjectGroup = new QButtonGroup(p);
    InternalObject = new QRadioButton(QStringLiteral("Uniform Slender Bar"), p);
    InternalObject->setGeometry(8, 154, 200, 20);
    InternalObject->setChecked(true);
    ModeWeightingLabel = AddLabel(p, QStringLiteral("Mode Weighting:"), 26, 177);
    ModeWeightingSlider = new QSlider(Qt::Horizontal, p);
    ModeWeightingSlider->setRange(0, 11);
    ModeWeightingSlider->setValue(6);
    ModeWeightingSlider->setPageStep(1);
    ModeWeightingSlider->setTickPosition(QSlider::TicksBelow);
    ModeWeightingSlider->setGeometry(24, 192, 150, 26);
    ModeWeightingFormula = AddLabel(p, QStringLiteral("1/n"), 182, 197);
    ModeWeightingExponent = new QLabel(QStringLiteral("3"), p);
    QFont small = ModeWeightingExponent->font();
    small.setPointSize(6);
    ModeWeightingExponent->setFont(small);
    ModeWeightingExponent->setGeometry(200, 191, 24, 12);
    ExternalObject = new QRadioButton(QStringLiteral("Load from file:"), p);
    ExternalObject->setGeometry(8, 222, 120, 20);
    ModeFileWarning = AddWarnIcon(p, text::WarnModeFile, 130, 224);
    ObjectGroup->addButton(InternalObject);
    ObjectGroup->addButton(ExternalObject);
    ModeFilesCombo = new QComboBox(p);
    ModeFilesCombo->setGeometry(26, 244, 207, 22);
    ModeFilesCombo->setEditable(false);
    ModeFilesCombo->setMaxVisibleItems(11);
    ModeFilesCombo->setEnabled(false);
    connect(InternalObject, &QRadioButton::clicked, this, &TMainWindow::InternalObjectClick);
    connect(ExternalObject, &QRadioButton::clicked, this, &TMainWindow::ExternalObjectClick);
    connect(ModeFilesCombo, &QComboBox::activated, this, &TMainWindow::ModeFilesComboSelect);
    connect(ModeWeightingSlider, &QSlider::valueChanged, this, &TMainWindow::ModeWeightingChange);

    AddLabel(p, QStringLiteral("Ends:"), 8, 276, true);
    EndTypeGroup = new QButtonGroup(p);
    EndFreeRadio = new QRadioButton(QString::fromUtf8(text::EndFree), p);
    EndFixedRadio = new QRadioButton(QString::fromUtf8(text::EndFixed), p);
    EndHingedRadio = new QRadioButton(QString::fromUtf8(text::EndHinged), p);
    int y = 292;
    for (QRadioButton* r : {EndFreeRadio, EndFixedRadio, EndHingedRadio}) {
        r->setGeometry(8, y, 200, 20);
        EndTypeGroup->addButton(r);
        y += 20;
    }
    EndFreeRadio->setChecked(true);

    AddLabel(p, QStringLiteral("Vibration Mode Limit:"), 8, 360);
    ModeLimitEdit = new QLineEdit(QStringLiteral("8"), p);
    ModeLimitEdit->setGeometry(136, 357, 36, 21);
    ModeLimitArrows = new TUpDown(ModeLimitEdit, 1, 100, 8, p);
    ModeLimitArrows->setGeometry(172, 357, 14, 21);
    ModeLimitArrows->OnChangingEx = [this](int v) { return ModeLimitChanging(v); };
    connect(ModeLimitEdit, &QLineEdit::textChanged, this, &TMainWindow::ModeLimitEditChange);

    ResonanceFader = AddFader(p, ResonanceFaderStart, 36, 392, 170);
    ResonanceReset = new TLinkLabel(QStringLiteral("Resonance"), p, false);
    ResonanceReset->move(26, 566);
    ResonanceReset->adjustSize();
    ResonanceReset->OnClick = [this] { Playing().ResonanceResetClick(); };
    connect(ResonanceFader, &QSlider::valueChanged, this,
            [this](int v) { Playing().SetResonanceFader(v); });

    MasterFader = AddFader(p, 20, 160, 392, 170);
    MasterLevelReset = new TLinkLabel(QString(), p, false);
    MasterLevelReset->setPixmap(Loudspeaker(palette().color(QPalette::WindowText)));
    MasterLevelReset->setGeometry(170, 566, 20, 16);
    MasterLevelReset->OnClick = [this] { MasterLevelResetClick(); };
    connect(MasterFader, &QSlider::valueChanged, this, &TMainWindow::MasterFaderChange);

    ApplyParametersBtn = new QPushButton(QStringLiteral("Apply"), p);
    QFont bold = ApplyParametersBtn->font();
    bold.setBold(true);
    ApplyParametersBtn->setFont(bold);
    ApplyParametersBtn->setGeometry(80, 594, 81, 27);
    connect(ApplyParametersBtn, &QPushButton::clicked, this, &TMainWindow::ApplyParametersBtnClick);
}

// ---------------------------------------------------------------------------------------
// Start-up and shutdown

void TMainWindow::StartUp() {
    // 1. The oscillators draw their noise seeds from the clock.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    // 2, 3. The crash window exists before anything can fail.
    CrashWin = new TCrashWindow(this);
    TVarkoApplication::OnException = [this](const std::string& cls, const std::string& sender,
                                            const std::string& message) {
        ApplicationException(cls, sender, message);
    };
    // 4. Numbers are read and shown with "." whatever the locale.
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_NUMERIC, "C");
    // 5, 6. Qt widgets are double-buffered already; hints stay 30 s (set per control).
    // 7, 9, 11, 13: the members start with their values.
    InitialFrequency = DefaultInitialFrequency;
    // 14.
    SetStatusText(4, QString::fromUtf8(text::Stopped));

    // 15. The engine and its host; driver resets rebuild the bank on this thread.
    Engine = std::make_unique<TAudioEngine>(CreateHost());
    Engine->OnRebuildTones = [this] { RefreshTones(); };
    Engine->Dispatch = [](std::function<void()> job) {
        QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
    };
    Engine->Host().OwnerDispatcher = Engine->Dispatch;
    // The server went away: the audio is stopped until the player restarts it.
    Engine->Host().OnDeviceLost = [this](IAudioHost*) {
        if (Engine) {
            Watchdog->stop();
            Engine->Stop();
            RestartBtn->show();
            SetStatusText(4, QString::fromUtf8(text::Stopped));
        }
    };

    // 16. The tablet (the settings dialog needs it) and the settings dialog.
    TabletSource = std::make_unique<TTabletEventSource>(this);
    if (ProbeTablet) {
        ProbeTablet(*TabletSource);
    }
    Tablet = std::make_unique<TTablet>(&TabletSource->Service());
    TabletSource->Attach(ToneZone);
    Tablet->OnPacket = [this](TCustomTablet*, uint32_t, HCTX, const void* packet) {
        TabletPacket(packet);
    };
    Tablet->OnProximity = [this](TCustomTablet*, HCTX, bool entering) {
        ToneZone->SetPenCursor(entering);
    };
    auto contextChanged = [this](TCustomTablet*, int32_t, int32_t) {
        LOGCONTEXTA lc;
        Tablet->GetContext(lc);
        Playing().TabletContextUpdate(lc.lcInExtX, lc.lcInExtY);
    };
    Tablet->OnContextOpen = contextChanged;
    Tablet->OnContextUpdate = contextChanged;

    TSettingsOwner owner;
    owner.RepaintToneZone = [this] { RepaintToneZone(); };
    owner.UpdateStereoConstants = [this] { UpdateStereoConstants(); };
    owner.RefreshTones = [this] { RefreshTones(); };
    owner.SetStatusText = [this](int panel, const QString& t) { SetStatusText(panel, t); };
    owner.ResetLevelBars = [this] {
        LeftMeter->setValue(0);
        RightMeter->setValue(0);
    };
    owner.SetLevelTimerEnabled = [this](bool on) {
        if (on) {
            LevelTimer->start();
        } else {
            LevelTimer->stop();
        }
    };
    owner.SetRezTimerInterval = [this](int ms) {
        RezDownTimer->setInterval(ms);
        RezUpTimer->setInterval(ms);
    };
    owner.ResetPressureBar = [this] {
        Playing().ShowPressureLevel = Flags.ShowPressureLevel;
        PressureBar->setValue(0);
        Playing().PressureBarPosition = 0;
        StatusBar->repaint();
    };
    owner.CursorPos = [] { return QCursor::pos(); };
    Settings = new TSettingsDialog(*Engine, *Tablet, Playing(), Flags, std::move(owner), this);
    Settings->FillDriverList();
    // The driver's own panel (buffer size and sample rate) opens over the settings dialog.
    InstallDriverPanelPresenter(Settings);

    // 17. Without an audio device there is nothing to play.
    if (Engine->Host().DriverList().empty()) {
        TNoAudioDeviceNotice notice(this);
        ExecModal(notice);
        Halted = true;
        Halt(0);
        return;
    }

    // 18. The tablet, or the mouse.
    if (OpenVarkoContext(*Tablet)) {
        SetStatusText(0, QString::fromStdString(Tablet->DeviceName()));
        AXIS axis;
        Tablet->GetPressureAxis(axis);
        Playing().SetPressureAxisMax(axis.axMax);
        PressureBar->setMaximum(Playing().PressureBarMax);
    } else {
        {
            TNoTabletNotice notice(this);
            ExecModal(notice);
        }
        if (!Settings->MousePressureBox->isChecked()) {
            Settings->MousePressureBox->click();
        }
        Settings->MousePressureBox->setEnabled(false);
    }

    // 19, 20.
    ReadSettingsFile();
    // 21.
    History.Load(HistoryFilePath());
    UpdateModeFileHistory();
    // 22.
    LevelTimer->start();
    LastTick = TickCount();
    Watchdog->start();
}

void TMainWindow::ReadSettingsFile() {
    const std::string path = SettingsFilePath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        InitialDir = QCoreApplication::applicationDirPath();
    }
    std::string message;
    if (!LoadSettingsFile(
            *Settings, path, [this](int level) { MasterFader->setValue(level); }, message)) {
        MessageBox(QString::fromStdString(message), QMessageBox::Warning);
    }
}

void TMainWindow::ShutDown() {
    if (closed_ || Halted) {
        closed_ = true;
        return;
    }
    closed_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (QTimer* t :
         {LevelTimer, LeftClipOffTimer, RightClipOffTimer, Watchdog, RezDownTimer, RezUpTimer}) {
        t->stop();
    }
    Engine.reset();
    if (Tablet) {
        Tablet->Close();
    }
    ScaleLines.clear();
    std::string message;
    if (!SaveSettingsFile(*Settings, SettingsFilePath(), MasterFader->value(), message)) {
        MessageBox(QString::fromStdString(message), QMessageBox::Warning);
    }
    History.Save(HistoryFilePath()); // a failure loses this run's history only
    QApplication::restoreOverrideCursor();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    ShutDown();
    event->accept();
    if (AboutBox != nullptr) {
        AboutBox->close();
    }
}

// ---------------------------------------------------------------------------------------
// Status bar, meters, timers

QString TMainWindow::StatusText(int panel) const {
    return StatusBar->Text(panel);
}

void TMainWindow::SetStatusText(int panel, const QString& text) {
    StatusBar->SetText(panel, text);
}

void TMainWindow::LayOutStatusBar() {
    const int w = std::max((StatusBar->width() - 335) / 2, 0);
    StatusBar->Widths = {150, 115, w, w, 70};
    StatusBar->update();
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutStatusBar();
}

void TMainWindow::DrawPressurePanel(QPainter& painter) {
    const QPoint at(154, (StatusBar->height() - 9) / 2);
    PressureBar->render(&painter, at, QRegion(), QWidget::DrawChildren);
}

void TMainWindow::LevelMeter(float peak, QProgressBar* meter, TClipLed* led, QTimer* offTimer) {
    if (peak > 0) {
        const double d = 20.0 * std::log10(static_cast<double>(peak));
        // Ties to even, as the meters have always rounded.
        const double r = std::nearbyint(d);
        const int position = static_cast<int>(std::clamp(60.0 - std::fabs(r), 0.0, 60.0));
        meter->setValue(position);
        if (meter->value() == meter->maximum() - 1) {
            led->SetColors(QColor(255, 128, 0), QColor(128, 0, 0));
            offTimer->start(); // restarts: lit 1000 ms after the last such reading
        }
    } else {
        meter->setValue(0);
    }
}

void TMainWindow::LevelTimerTick() {
    if (!Engine) {
        return;
    }
    LevelMeter(Engine->PeakLeft.load(std::memory_order_relaxed), LeftMeter, LeftClipLed,
               LeftClipOffTimer);
    LevelMeter(Engine->PeakRight.load(std::memory_order_relaxed), RightMeter, RightClipLed,
               RightClipOffTimer);
    Engine->PeakLeft.store(0.0f, std::memory_order_relaxed);
    Engine->PeakRight.store(0.0f, std::memory_order_relaxed);
}

void TMainWindow::LeftClipOffTimerTimer() {
    LeftClipOffTimer->stop();
    LeftClipLed->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWindow::RightClipOffTimerTimer() {
    RightClipOffTimer->stop();
    RightClipLed->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWindow::ShowStoppedWarning(const char* first, const char* second) {
    Watchdog->stop();
    Engine->Stop();
    RestartBtn->show();
    SetStatusText(4, QString::fromUtf8(text::Stopped));
    TAudioStoppedNotice warning(this);
    warning.SetTexts(QString::fromUtf8(first), QString::fromUtf8(second));
    ExecModal(warning);
}

void TMainWindow::WatchdogTick() {
    const uint32_t now = TickCount();
    // The ticks are UI messages: a long gap means the UI thread was starved.
    if (static_cast<uint32_t>(now - LastTick) > 15000u) {
        LastTick = now;
        ShowStoppedWarning(text::LoadStopped, text::LoadAdvice);
    }
    LastTick = TickCount();
}

void TMainWindow::StopAudio() {
    ShowStoppedWarning(text::UserStopped, text::UserStoppedAdvice);
}

void TMainWindow::RestartBtnClick() {
    LastTick = TickCount();
    Watchdog->start();
    Engine->Start();
    SetStatusText(4, QString::fromUtf8(text::Running));
    RestartBtn->hide();
}

// ---------------------------------------------------------------------------------------
// Crashes

void TMainWindow::ApplicationException(const std::string& exceptionClass,
                                    const std::string& senderClass, const std::string& message) {
    ThreadTerminationCheck(exceptionClass + "@" + senderClass + ": " + message);
}

void TMainWindow::ThreadTerminationCheck(const std::string& crashText) {
    if (crashing_) {
        return; // one crash window is enough; the halt follows it
    }
    crashing_ = true;
    if (Engine) {
        Engine->Stop();
    }
    CrashWin->SetErrorText(QString::fromStdString(crashText));
    ExecModal(*CrashWin);
    Halted = true;
    Halt(EXIT_FAILURE);
}

// ---------------------------------------------------------------------------------------
// Parameters panel

void TMainWindow::MasterFaderChange() {
    if (Engine) {
        Engine->MasterGain.store(MasterGainFromFader(MasterFader->value()),
                                 std::memory_order_relaxed);
    }
}

void TMainWindow::MasterLevelResetClick() {
    MasterFader->setValue(20);
}

bool TMainWindow::ModeLimitChanging(int newValue) {
    ModeLimit = std::max(newValue, 1);
    return true;
}

void TMainWindow::ModeLimitEditChange() {
    bool ok = false;
    const int n = ModeLimitEdit->text().toInt(&ok);
    if (ok && n > 0) {
        ModeLimitArrows->SetPosition(n);
    }
}

void TMainWindow::ModeWeightingChange() {
    const int p = ModeWeightingSlider->value();
    if (p == ModeWeightFactorial) {
        ModeWeightingExponent->hide();
        ModeWeightingFormula->setText(QStringLiteral("1/n!"));
    } else {
        ModeWeightingExponent->setText(QString::number(p / 2.0, 'g', 3));
        ModeWeightingExponent->show();
        ModeWeightingFormula->setText(QStringLiteral("1/n"));
    }
}

void TMainWindow::RepeatDownEditChange() {
    if (const auto n = ParseRepeatCount(RepeatDownEdit->text().toStdString())) {
        RepeatDownArrows->SetPosition(*n);
    }
}

void TMainWindow::RepeatUpEditChange() {
    if (const auto n = ParseRepeatCount(RepeatUpEdit->text().toStdString())) {
        RepeatUpArrows->SetPosition(*n);
    }
}

void TMainWindow::ParametersBtnClick() {
    ParametersPanel->setVisible(!ParametersPanel->isVisible());
}

void TMainWindow::ContentsBtnClick() {
    ScaleContentsPanel->setVisible(!ScaleContentsPanel->isVisible());
}

void TMainWindow::SettingsBtnClick() {
    ExecModal(*Settings);
}

void TMainWindow::HelpBtnClick() {
    HelpPanel->setVisible(!HelpPanel->isVisible());
    HelpPanel->raise();
}

void TMainWindow::AboutMenuItemClick() {
    if (AboutBox != nullptr) {
        AboutBox->show();
        AboutBox->raise();
    }
    HelpPanel->hide();
}

void TMainWindow::HelpMenuItemClick() {
    OpenUrl(QUrl::fromLocalFile(UserGuidePath()));
    HelpPanel->hide();
}

void TMainWindow::GetScaleFilesMenuItemClick() {
    HelpPanel->hide();
    if (MessageBox(QString::fromUtf8(text::ScaleArchive), QMessageBox::Information,
                   QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok) {
        OpenUrl(QUrl(QString::fromUtf8(text::ScaleArchiveUrl)));
    }
}

int TMainWindow::MessageBox(const QString& text, int icon, int buttons) {
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), QString::fromUtf8(text::Caption), text,
                    static_cast<QMessageBox::StandardButtons>(buttons), this);
    const int r = ExecModal(box);
    // exec() answers with the button; a replaced ExecModal may have clicked one.
    if (box.clickedButton() != nullptr) {
        return box.standardButton(box.clickedButton());
    }
    return r;
}

// ---------------------------------------------------------------------------------------
// Mode files

void TMainWindow::InternalObjectClick() {
    for (QWidget* w : {static_cast<QWidget*>(ModeWeightingLabel), static_cast<QWidget*>(ModeWeightingSlider),
                       static_cast<QWidget*>(ModeWeightingFormula), static_cast<QWidget*>(ModeWeightingExponent)}) {
        w->setEnabled(true);
    }
    ModeFilesCombo->setEnabled(false);
}

void TMainWindow::ExternalObjectClick() {
    for (QWidget* w : {static_cast<QWidget*>(ModeWeightingLabel), static_cast<QWidget*>(ModeWeightingSlider),
                       static_cast<QWidget*>(ModeWeightingFormula), static_cast<QWidget*>(ModeWeightingExponent)}) {
        w->setEnabled(false);
    }
    ModeFilesCombo->setEnabled(true);
}

void TMainWindow::UpdateModeFileHistory() {
    ModeFilesCombo->clear();
    for (const std::string& item : History.ComboItems()) {
        ModeFilesCombo->addItem(QString::fromStdString(item));
    }
    ModeFilesCombo->setCurrentIndex(-1);
}

void TMainWindow::ModeFilesComboSelect() {
    const int index = ModeFilesCombo->currentIndex();
    if (index > 0) {
        LoadModeFile(History[static_cast<size_t>(index - 1)], true);
        return;
    }
    if (index == 0) {
        const QString path = ChooseFile(text::OpenModeTitle, text::OpenModeFilter);
        if (path.isEmpty()) {
            ModeFilesCombo->setCurrentIndex(-1);
            return;
        }
        LoadModeFile(LocalPath(path), false);
    }
}

void TMainWindow::LoadModeFile(const std::string& path, bool fromHistory) {
    ModeFileWarning->hide();
    ModeRatios.clear();
    ModeLevels.clear();
    ModeFile file = ReadModeFile(path);
    if (!file.Opened) {
        MessageBox(QString::fromUtf8(text::ModeFileNotOpened), QMessageBox::Critical);
        if (fromHistory) {
            const int index = ModeFilesCombo->currentIndex();
            if (index > 0) {
                History.Remove(static_cast<size_t>(index - 1));
                ModeFilesCombo->removeItem(index);
            }
            ModeFilesCombo->setCurrentIndex(-1);
        }
        return;
    }
    if (!fromHistory) {
        History.Insert(path);
        UpdateModeFileHistory();
        ModeFilesCombo->setCurrentIndex(1);
    }
    ModeRatios = std::move(file.Ratios);
    ModeLevels = std::move(file.Levels);
    if (file.HasFaultyLines) {
        ModeFileWarning->show();
    }
}

// ---------------------------------------------------------------------------------------
// Scales and the tone bank

QString TMainWindow::ChooseFile(const char* title, const char* filter) {
    QFileDialog dialog(this, QString::fromUtf8(title), InitialDir, QString::fromUtf8(filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("VARKO_TEST"));
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

void TMainWindow::OpenScaleBtnClick() {
    if (Settings->DriverCombo->currentIndex() == -1) {
        MessageBox(QString::fromUtf8(text::ChooseDriver), QMessageBox::Critical);
        return;
    }
    const QString path = ChooseFile(text::OpenScaleTitle, text::OpenScaleFilter);
    if (path.isEmpty()) {
        return;
    }
    ParseScalaFile(LocalPath(path));
    // Also after a file that failed: the tones are rebuilt from the previous scale.
    CalculateRepeats();
    RefreshTones();
    RepaintToneZone();
}

void TMainWindow::ParseScalaFile(const std::string& path) {
    ScalaFile file = ReadScalaFile(path);
    if (!file.Opened) {
        MessageBox(QString::fromUtf8(text::ScaleNotOpened), QMessageBox::Critical);
        return;
    }
    ScaleLines = std::move(file.Lines);
    ScaleDegrees_ = std::move(file.Degrees);
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(ScaleLines.size()));
    for (const std::string& l : ScaleLines) {
        lines << FileText(l);
    }
    ScaleContentsBox->setPlainText(lines.join(QLatin1Char('\n')));
    SetStatusText(2, FileText(file.Description));
    if (file.HasErrors) {
        MessageBox(QString::fromUtf8(text::ScaleErrors), QMessageBox::Warning);
    }
}

void TMainWindow::CalculateRepeats() {
    if (auto r = varko::CalculateRepeats(ScaleDegrees_, RepeatDownCount, RepeatUpCount,
                                         RepeatEndsChk->isChecked())) {
        ToneRatios = std::move(*r);
    }
    if (Playing().MousePressure) {
        const QPoint c = QCursor::pos();
        Playing().LastPointerX = static_cast<float>(c.x());
        Playing().LastPointerY = static_cast<float>(c.y());
    }
}

void TMainWindow::ApplyParametersBtnClick() {
    if (const auto f = ParseInitialFrequency(InitialFrequencyEdit->text().toStdString())) {
        InitialFrequency = *f;
    }
    CalculateRepeats();
    RefreshTones();
    RepaintToneZone();
}

TEndType TMainWindow::CheckedEndType() const {
    if (EndFixedRadio->isChecked()) {
        return TEndType::Fixed;
    }
    if (EndHingedRadio->isChecked()) {
        return TEndType::Hinged;
    }
    return TEndType::Free;
}

void TMainWindow::RefreshTones() {
    if (!Engine) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString description = StatusText(2);
    SetStatusText(2, QString::fromUtf8(text::Preparing) + QLatin1Char(' ') + description);
    if (Engine->Running.load()) {
        SetStatusText(4, QString::fromUtf8(text::Stopped));
    }
    StatusBar->repaint();
    NoSoundWarning->hide();

    TToneBankInput in;
    in.ToneRatios = ToneRatios;
    in.InitialFrequency = InitialFrequency;
    in.ExternalObject = ExternalObject->isChecked();
    in.End = CheckedEndType();
    in.ModeWeighting = ModeWeightingSlider->value();
    in.ModeLimit = ModeLimit;
    in.ResonanceFader = Playing().ResonanceFader();
    in.InterpolateDelays = Flags.InterpolateDelays;
    in.Paint2Rows = Flags.Paint2Rows;
    in.ModeRatios = ModeRatios;
    in.ModeLevels = ModeLevels;
    in.ModeFileName = ModeFilesCombo->currentText().toStdString();
    in.MakeOscillator = MakeOscillator;
    // Runs on the ending thread: post the news to the UI thread and return.
    in.OnTerminate = [](TWaveguideThread& t) {
        if (!t.FatalException) {
            return;
        }
        QMetaObject::invokeMethod(
            qApp,
            [text = t.CrashText()] {
                if (MainWin != nullptr) {
                    MainWin->ThreadTerminationCheck(text);
                }
            },
            Qt::QueuedConnection);
    };
    const TToneBankResult r = varko::RefreshTones(*Engine, in);
    if (r.Abandoned) {
        // The oscillator's own end reports the crash.
        QApplication::restoreOverrideCursor();
        return;
    }
    NoSoundWarning->setVisible(r.WarnNoSound);
    if (r.WarnModeFile) {
        ModeFileWarning->show();
    }
    if (r.Running) {
        SetStatusText(4, QString::fromUtf8(text::Running));
    }
    if (r.ObjectDescription) {
        SetStatusText(3, QString::fromStdString(*r.ObjectDescription));
    }
    SetStatusText(2, description);
    QApplication::restoreOverrideCursor();
    if (r.Capped) {
        MessageBox(QString::fromUtf8(text::TooManyTones).arg(r.RequestedTones).arg(MaxTones),
                   QMessageBox::Warning);
    }
    if (r.TooLarge) {
        MessageBox(
            QString::fromUtf8(text::BankTooLarge).arg(r.BankBytes >> 20).arg(MaxBankBytes >> 20),
            QMessageBox::Warning);
    }
}

void TMainWindow::UpdateStereoConstants() {
    if (Engine) {
        varko::UpdateStereoConstants(*Engine, Flags.Paint2Rows);
    }
}

void TMainWindow::RepaintToneZone() {
    // Only the tones the bank plays get a bar.
    const size_t n = std::min(ToneRatios.size(), static_cast<size_t>(MaxTones));
    if (ToneZone->ToneRatios().size() != n ||
        !std::equal(ToneRatios.begin(), ToneRatios.begin() + static_cast<ptrdiff_t>(n),
                    ToneZone->ToneRatios().begin())) {
        ToneZone->SetToneRatios(
            std::vector<float>(ToneRatios.begin(), ToneRatios.begin() + static_cast<ptrdiff_t>(n)));
    }
    ToneZone->SetInitialFrequency(InitialFrequency);
    TToneZoneLook look = ToneZone->Look();
    look.Paint2Rows = Flags.Paint2Rows;
    look.ColoredToneZone = Flags.ColoredToneZone;
    look.ShowFrequencyLabels = Flags.ShowFrequencyLabels;
    ToneZone->SetLook(look);
}

void TMainWindow::TabletPacket(const void* pPacket) {
    TPacket packet;
    std::memcpy(&packet, pPacket, sizeof packet);
    Playing().TabletPacket(packet);
}

// ---------------------------------------------------------------------------------------
// Function keys

bool TMainWindow::FunctionKey(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) {
        return false;
    }
    switch (key) {
    case Qt::Key_F1:
        HelpMenuItemClick();
        return true;
    case Qt::Key_F2:
        OpenScaleBtnClick();
        return true;
    case Qt::Key_F3:
        ParametersBtnClick();
        return true;
    case Qt::Key_F4:
        ContentsBtnClick();
        return true;
    case Qt::Key_F5:
        ApplyParametersBtnClick();
        return true;
    case Qt::Key_F6:
        StopAudio();
        return true;
    case Qt::Key_F9:
        ToolbarPanel->setVisible(!ToolbarPanel->isVisible());
        return true;
    case Qt::Key_F10:
        StatusBar->setVisible(!StatusBar->isVisible());
        return true;
    case Qt::Key_F11:
        if (windowFlags().testFlag(Qt::FramelessWindowHint)) {
            setWindowFlag(Qt::FramelessWindowHint, false);
            showNormal();
        } else {
            setWindowFlag(Qt::FramelessWindowHint, true);
            showMaximized();
        }
        return true;
    case Qt::Key_F12:
        SettingsBtnClick();
        return true;
    default:
        return false;
    }
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (w->window() == this && !key->isAutoRepeat() &&
            FunctionKey(key->key(), key->modifiers())) {
            return true; // handled once, not again by the parents
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace varko
