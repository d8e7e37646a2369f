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

TMainWin* MainWin = nullptr;

std::function<int(QDialog&)> TMainWin::ExecModal = [](QDialog& d) { return d.exec(); };
std::function<void(int)> TMainWin::Halt = [](int code) { std::_Exit(code); };
std::function<void(const QUrl&)> TMainWin::OpenUrl = [](const QUrl& url) {
    QDesktopServices::openUrl(url);
};
std::function<uint32_t()> TMainWin::TickCount = [] {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
};
std::function<std::unique_ptr<IAudioHost>()> TMainWin::CreateHost = [] {
    return CreateAudioHost();
};
std::function<void(TTabletEventSource&)> TMainWin::ProbeTablet;
std::function<std::unique_ptr<TWaveguideThread>()> TMainWin::MakeOscillator;

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

TMainWin::TMainWin(QWidget* parent) : QWidget(parent) {
    MainWin = this;
    tones_ = std::make_unique<TWindowTones>(Engine);
    playing_ = std::make_unique<TPlaying>(*tones_);
    BuildControls();
    FormCreate();
}

TMainWin::~TMainWin() {
    FormClose();
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

void TMainWin::BuildControls() {
    InitResources();
    setObjectName(QStringLiteral("MainWin"));
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
    leftlevel = new QProgressBar(meters);
    rightlevel = new QProgressBar(meters);
    int mx = 0;
    for (QProgressBar* m : {leftlevel, rightlevel}) {
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
    pressurebar = new QProgressBar(this);
    pressurebar->setRange(0, 100);
    pressurebar->setValue(0);
    pressurebar->setTextVisible(false);
    pressurebar->resize(97, 10);
    pressurebar->hide();

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
    leveltimer = makeTimer(50, &TMainWin::leveltimerTimer);
    LeftClipOffTimer = makeTimer(1000, &TMainWin::LeftClipOffTimerTimer);
    RightClipOffTimer = makeTimer(1000, &TMainWin::RightClipOffTimerTimer);
    TickCheck = makeTimer(5000, &TMainWin::TickCheckTimer);
    RezDownTimer = makeTimer(30, [this] { Playing().RezDownTimerTimer(); });
    RezUpTimer = makeTimer(30, [this] { Playing().RezUpTimerTimer(); });

    // Playing
    TPlaying& play = Playing();
    ToneZone->OnMouseMove = [this](int zx, int zy) {
        const QPoint c = QCursor::pos();
        Playing().ToneZoneMouseMove(ToneZone->Geometry(), ToneZone->BarWidthReciprocal(), zx, zy,
                                    static_cast<float>(c.x()), static_cast<float>(c.y()));
    };
    ToneZone->OnMouseDown = [this](TMouseButton b, int, int) { Playing().Shape1MouseDown(b); };
    ToneZone->OnMouseUp = [this](TMouseButton b, int, int) { Playing().Shape1MouseUp(b); };
    play.OnResonanceFaderChanged = [this](int p) {
        const QSignalBlocker block(ResonanceFader);
        ResonanceFader->setValue(p);
    };
    play.OnPressureBarChanged = [this] {
        pressurebar->setMaximum(Playing().PressureBarMax);
        pressurebar->setValue(Playing().PressureBarPosition);
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

void TMainWin::BuildParametersPanel() {
    QWidget* p = ParametersPanel;
    CloseParametersLblBtn = AddPanelTitle(p, QStringLiteral("Parameters"), 241);
    CloseParametersLblBtn->OnClick = [this] { ParametersBtnClick(); };

    AddLabel(p, QStringLiteral("Initial Frequency:"), 8, 31);
    InitialFreqEd = new QLineEdit(QStringLiteral("200"), p);
    InitialFreqEd->setGeometry(112, 28, 64, 21);
    AddLabel(p, QStringLiteral("Hz"), 180, 31);
    warnicon1 = AddWarnIcon(p, text::WarnNoSound, 200, 31);

    AddLabel(p, QStringLiteral("Repeat scale downwards"), 8, 57);
    RepeatDownEd = new QLineEdit(QStringLiteral("0"), p);
    RepeatDownEd->setGeometry(150, 54, 28, 21);
    RepeatDownUd = new TUpDown(RepeatDownEd, 0, MaxRepeatCount, 0, p);
    RepeatDownUd->setGeometry(178, 54, 14, 21);
    AddLabel(p, QStringLiteral("time(s)"), 196, 57);
    AddLabel(p, QStringLiteral("Repeat scale upwards"), 8, 83);
    RepeatUpEd = new QLineEdit(QStringLiteral("0"), p);
    RepeatUpEd->setGeometry(150, 80, 28, 21);
    RepeatUpUd = new TUpDown(RepeatUpEd, 0, MaxRepeatCount, 0, p);
    RepeatUpUd->setGeometry(178, 80, 14, 21);
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
    RepeatDownUd->OnChangingEx = [this](int v) {
        RepeatDownCount = std::max(v, 0);
        return true;
    };
    RepeatUpUd->OnChangingEx = [this](int v) {
        RepeatUpCount = std::max(v, 0);
        return true;
    };
    connect(RepeatDownEd, &QLineEdit::textChanged, this, &TMainWin::RepeatDownEdChange);
    connect(RepeatUpEd, &QLineEdit::textChanged, this, &TMainWin::RepeatUpEdChange);

    AddLabel(p, QStringLiteral("Object Type:"), 8, 139, true);
    ObjectGroup = new QButtonGroup(p);
    InternalObject = new QRadioButton(QStringLiteral("Uniform Slender Bar"), p);
    InternalObject->setGeometry(8, 154, 200, 20);
    InternalObject->setChecked(true);
    lblmodelevels = AddLabel(p, QStringLiteral("Mode Weighting:"), 26, 177);
    ModeLevelsTrk = new QSlider(Qt::Horizontal, p);
    ModeLevelsTrk->setRange(0, 11);
    ModeLevelsTrk->setValue(6);
    ModeLevelsTrk->setPageStep(1);
    ModeLevelsTrk->setTickPosition(QSlider::TicksBelow);
    ModeLevelsTrk->setGeometry(24, 192, 150, 26);
    lbl1n = AddLabel(p, QStringLiteral("1/n"), 182, 197);
    lblNexp = new QLabel(QStringLiteral("3"), p);
    QFont small = lblNexp->font();
    small.setPointSize(6);
    lblNexp->setFont(small);
    lblNexp->setGeometry(200, 191, 24, 12);
    ExternalObject = new QRadioButton(QStringLiteral("Load from file:"), p);
    ExternalObject->setGeometry(8, 222, 120, 20);
    warnicon2 = AddWarnIcon(p, text::WarnModeFile, 130, 224);
    ObjectGroup->addButton(InternalObject);
    ObjectGroup->addButton(ExternalObject);
    ModeFilesCombo = new QComboBox(p);
    ModeFilesCombo->setGeometry(26, 244, 207, 22);
    ModeFilesCombo->setEditable(false);
    ModeFilesCombo->setMaxVisibleItems(11);
    ModeFilesCombo->setEnabled(false);
    connect(InternalObject, &QRadioButton::clicked, this, &TMainWin::InternalObjectClick);
    connect(ExternalObject, &QRadioButton::clicked, this, &TMainWin::ExternalObjectClick);
    connect(ModeFilesCombo, &QComboBox::activated, this, &TMainWin::ModeFilesComboSelect);
    connect(ModeLevelsTrk, &QSlider::valueChanged, this, &TMainWin::ModeLevelsTrkChange);

    AddLabel(p, QStringLiteral("Ends:"), 8, 276, true);
    EndTypeGroup = new QButtonGroup(p);
    EndType1 = new QRadioButton(QString::fromUtf8(text::EndFree), p);
    EndType2 = new QRadioButton(QString::fromUtf8(text::EndFixed), p);
    EndType3 = new QRadioButton(QString::fromUtf8(text::EndHinged), p);
    int y = 292;
    for (QRadioButton* r : {EndType1, EndType2, EndType3}) {
        r->setGeometry(8, y, 200, 20);
        EndTypeGroup->addButton(r);
        y += 20;
    }
    EndType1->setChecked(true);

    AddLabel(p, QStringLiteral("Vibration Mode Limit:"), 8, 360);
    ModeLimitEd = new QLineEdit(QStringLiteral("8"), p);
    ModeLimitEd->setGeometry(136, 357, 36, 21);
    ModeLimitUd = new TUpDown(ModeLimitEd, 1, 100, 8, p);
    ModeLimitUd->setGeometry(172, 357, 14, 21);
    ModeLimitUd->OnChangingEx = [this](int v) { return ModeLimitUdChangingEx(v); };
    connect(ModeLimitEd, &QLineEdit::textChanged, this, &TMainWin::ModeLimitEdChange);

    ResonanceFader = AddFader(p, ResonanceFaderStart, 36, 392, 170);
    lblResonance = new TLinkLabel(QStringLiteral("Resonance"), p, false);
    lblResonance->move(26, 566);
    lblResonance->adjustSize();
    lblResonance->OnClick = [this] { Playing().lblResonanceClick(); };
    connect(ResonanceFader, &QSlider::valueChanged, this,
            [this](int v) { Playing().SetResonanceFader(v); });

    masterfader = AddFader(p, 20, 160, 392, 170);
    lblmainvol = new TLinkLabel(QString(), p, false);
    lblmainvol->setPixmap(Loudspeaker(palette().color(QPalette::WindowText)));
    lblmainvol->setGeometry(170, 566, 20, 16);
    lblmainvol->OnClick = [this] { lblmainvolClick(); };
    connect(masterfader, &QSlider::valueChanged, this, &TMainWin::masterfaderChange);

    ApplyParametersBtn = new QPushButton(QStringLiteral("Apply"), p);
    QFont bold = ApplyParametersBtn->font();
    bold.setBold(true);
    ApplyParametersBtn->setFont(bold);
    ApplyParametersBtn->setGeometry(80, 594, 81, 27);
    connect(ApplyParametersBtn, &QPushButton::clicked, this, &TMainWin::ApplyParametersBtnClick);
}

// ---------------------------------------------------------------------------------------
// Start-up and shutdown

void TMainWin::FormCreate() {
    // 1. The oscillators draw their noise seeds from the clock.
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    // 2, 3. The crash window exists before anything can fail.
    CrashWin = new TVarkoCrashWin(this);
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
    if (auto* device = dynamic_cast<TASIOHost*>(&Engine->Host())) {
        device->OwnerDispatcher = Engine->Dispatch;
        // The server went away: the audio is stopped until the player restarts it.
        device->OnDeviceLost = [this](IAudioHost*) {
            if (Engine) {
                TickCheck->stop();
                Engine->Stop();
                RestartBtn->show();
                SetStatusText(4, QString::fromUtf8(text::Stopped));
            }
        };
    }

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
        leftlevel->setValue(0);
        rightlevel->setValue(0);
    };
    owner.SetLevelTimerEnabled = [this](bool on) {
        if (on) {
            leveltimer->start();
        } else {
            leveltimer->stop();
        }
    };
    owner.SetRezTimerInterval = [this](int ms) {
        RezDownTimer->setInterval(ms);
        RezUpTimer->setInterval(ms);
    };
    owner.ResetPressureBar = [this] {
        Playing().ShowPressureLevel = Flags.ShowPressureLevel;
        pressurebar->setValue(0);
        Playing().PressureBarPosition = 0;
        StatusBar->repaint();
    };
    owner.CursorPos = [] { return QCursor::pos(); };
    Settings = new Tayarfrm(*Engine, *Tablet, Playing(), Flags, std::move(owner), this);
    Settings->FillDriverList();
    // The driver's own panel (buffer size and sample rate) opens over the settings dialog.
    InstallDriverPanelPresenter(Settings);

    // 17. Without an audio device there is nothing to play.
    if (Engine->Host().DriverList().empty()) {
        TVarkoNoAsioWindow notice(this);
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
        pressurebar->setMaximum(Playing().PressureBarMax);
    } else {
        {
            TVarkoNoTabletWindow notice(this);
            ExecModal(notice);
        }
        if (!Settings->chktabletyok->isChecked()) {
            Settings->chktabletyok->click();
        }
        Settings->chktabletyok->setEnabled(false);
    }

    // 19, 20.
    ReadSettingsFile();
    // 21.
    History.Load(HistoryFilePath());
    UpdateModeFileHistory();
    // 22.
    leveltimer->start();
    LastTick = TickCount();
    TickCheck->start();
}

void TMainWin::ReadSettingsFile() {
    const std::string path = SettingsFilePath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        InitialDir = QCoreApplication::applicationDirPath();
    }
    std::string message;
    if (!LoadSettingsFile(
            *Settings, path, [this](int level) { masterfader->setValue(level); }, message)) {
        MessageBox(QString::fromStdString(message), QMessageBox::Warning);
    }
}

void TMainWin::FormClose() {
    if (closed_ || Halted) {
        closed_ = true;
        return;
    }
    closed_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (QTimer* t :
         {leveltimer, LeftClipOffTimer, RightClipOffTimer, TickCheck, RezDownTimer, RezUpTimer}) {
        t->stop();
    }
    Engine.reset();
    if (Tablet) {
        Tablet->Close();
    }
    ScaleLines.clear();
    std::string message;
    if (!SaveSettingsFile(*Settings, SettingsFilePath(), masterfader->value(), message)) {
        MessageBox(QString::fromStdString(message), QMessageBox::Warning);
    }
    History.Save(HistoryFilePath()); // a failure loses this run's history only
    QApplication::restoreOverrideCursor();
}

void TMainWin::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
    if (AboutBox != nullptr) {
        AboutBox->close();
    }
}

// ---------------------------------------------------------------------------------------
// Status bar, meters, timers

QString TMainWin::StatusText(int panel) const {
    return StatusBar->Text(panel);
}

void TMainWin::SetStatusText(int panel, const QString& text) {
    StatusBar->SetText(panel, text);
}

void TMainWin::FormResize() {
    const int w = std::max((StatusBar->width() - 335) / 2, 0);
    StatusBar->Widths = {150, 115, w, w, 70};
    StatusBar->update();
}

void TMainWin::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TMainWin::DrawPressurePanel(QPainter& painter) {
    const QPoint at(154, (StatusBar->height() - 9) / 2);
    pressurebar->render(&painter, at, QRegion(), QWidget::DrawChildren);
}

void TMainWin::LevelMeter(float peak, QProgressBar* meter, TClipLed* led, QTimer* offTimer) {
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

void TMainWin::leveltimerTimer() {
    if (!Engine) {
        return;
    }
    LevelMeter(Engine->PeakLeft.load(std::memory_order_relaxed), leftlevel, LeftClipLed,
               LeftClipOffTimer);
    LevelMeter(Engine->PeakRight.load(std::memory_order_relaxed), rightlevel, RightClipLed,
               RightClipOffTimer);
    Engine->PeakLeft.store(0.0f, std::memory_order_relaxed);
    Engine->PeakRight.store(0.0f, std::memory_order_relaxed);
}

void TMainWin::LeftClipOffTimerTimer() {
    LeftClipOffTimer->stop();
    LeftClipLed->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWin::RightClipOffTimerTimer() {
    RightClipOffTimer->stop();
    RightClipLed->SetColors(Qt::black, QColor(128, 128, 128));
}

void TMainWin::ShowStoppedWarning(const char* first, const char* second) {
    TickCheck->stop();
    Engine->Stop();
    RestartBtn->show();
    SetStatusText(4, QString::fromUtf8(text::Stopped));
    TVarkoCPUwarningWin warning(this);
    warning.SetTexts(QString::fromUtf8(first), QString::fromUtf8(second));
    ExecModal(warning);
}

void TMainWin::TickCheckTimer() {
    const uint32_t now = TickCount();
    // The ticks are UI messages: a long gap means the UI thread was starved.
    if (static_cast<uint32_t>(now - LastTick) > 15000u) {
        LastTick = now;
        ShowStoppedWarning(text::LoadStopped, text::LoadAdvice);
    }
    LastTick = TickCount();
}

void TMainWin::StopAudio() {
    ShowStoppedWarning(text::UserStopped, text::UserStoppedAdvice);
}

void TMainWin::RestartBtnClick() {
    LastTick = TickCount();
    TickCheck->start();
    Engine->Start();
    SetStatusText(4, QString::fromUtf8(text::Running));
    RestartBtn->hide();
}

// ---------------------------------------------------------------------------------------
// Crashes

void TMainWin::ApplicationException(const std::string& exceptionClass,
                                    const std::string& senderClass, const std::string& message) {
    ThreadTerminationCheck(exceptionClass + "@" + senderClass + ": " + message);
}

void TMainWin::ThreadTerminationCheck(const std::string& crashText) {
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

void TMainWin::masterfaderChange() {
    if (Engine) {
        Engine->MasterGain.store(MasterGainFromFader(masterfader->value()),
                                 std::memory_order_relaxed);
    }
}

void TMainWin::lblmainvolClick() {
    masterfader->setValue(20);
}

bool TMainWin::ModeLimitUdChangingEx(int newValue) {
    ModeLimit = std::max(newValue, 1);
    return true;
}

void TMainWin::ModeLimitEdChange() {
    bool ok = false;
    const int n = ModeLimitEd->text().toInt(&ok);
    if (ok && n > 0) {
        ModeLimitUd->SetPosition(n);
    }
}

void TMainWin::ModeLevelsTrkChange() {
    const int p = ModeLevelsTrk->value();
    if (p == ModeWeightFactorial) {
        lblNexp->hide();
        lbl1n->setText(QStringLiteral("1/n!"));
    } else {
        lblNexp->setText(QString::number(p / 2.0, 'g', 3));
        lblNexp->show();
        lbl1n->setText(QStringLiteral("1/n"));
    }
}

void TMainWin::RepeatDownEdChange() {
    if (const auto n = ParseRepeatCount(RepeatDownEd->text().toStdString())) {
        RepeatDownUd->SetPosition(*n);
    }
}

void TMainWin::RepeatUpEdChange() {
    if (const auto n = ParseRepeatCount(RepeatUpEd->text().toStdString())) {
        RepeatUpUd->SetPosition(*n);
    }
}

void TMainWin::ParametersBtnClick() {
    ParametersPanel->setVisible(!ParametersPanel->isVisible());
}

void TMainWin::ContentsBtnClick() {
    ScaleContentsPanel->setVisible(!ScaleContentsPanel->isVisible());
}

void TMainWin::SettingsBtnClick() {
    ExecModal(*Settings);
}

void TMainWin::HelpBtnClick() {
    HelpPanel->setVisible(!HelpPanel->isVisible());
    HelpPanel->raise();
}

void TMainWin::AboutMenuItemClick() {
    if (AboutBox != nullptr) {
        AboutBox->show();
        AboutBox->raise();
    }
    HelpPanel->hide();
}

void TMainWin::HelpMenuItemClick() {
    OpenUrl(QUrl::fromLocalFile(UserGuidePath()));
    HelpPanel->hide();
}

void TMainWin::GetScaleFilesMenuItemClick() {
    HelpPanel->hide();
    if (MessageBox(QString::fromUtf8(text::ScaleArchive), QMessageBox::Information,
                   QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok) {
        OpenUrl(QUrl(QString::fromUtf8(text::ScaleArchiveUrl)));
    }
}

int TMainWin::MessageBox(const QString& text, int icon, int buttons) {
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

void TMainWin::InternalObjectClick() {
    for (QWidget* w : {static_cast<QWidget*>(lblmodelevels), static_cast<QWidget*>(ModeLevelsTrk),
                       static_cast<QWidget*>(lbl1n), static_cast<QWidget*>(lblNexp)}) {
        w->setEnabled(true);
    }
    ModeFilesCombo->setEnabled(false);
}

void TMainWin::ExternalObjectClick() {
    for (QWidget* w : {static_cast<QWidget*>(lblmodelevels), static_cast<QWidget*>(ModeLevelsTrk),
                       static_cast<QWidget*>(lbl1n), static_cast<QWidget*>(lblNexp)}) {
        w->setEnabled(false);
    }
    ModeFilesCombo->setEnabled(true);
}

void TMainWin::UpdateModeFileHistory() {
    ModeFilesCombo->clear();
    for (const std::string& item : History.ComboItems()) {
        ModeFilesCombo->addItem(QString::fromStdString(item));
    }
    ModeFilesCombo->setCurrentIndex(-1);
}

void TMainWin::ModeFilesComboSelect() {
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

void TMainWin::LoadModeFile(const std::string& path, bool fromHistory) {
    warnicon2->hide();
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
        warnicon2->show();
    }
}

// ---------------------------------------------------------------------------------------
// Scales and the tone bank

QString TMainWin::ChooseFile(const char* title, const char* filter) {
    QFileDialog dialog(this, QString::fromUtf8(title), InitialDir, QString::fromUtf8(filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("VARKO_TEST"));
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

void TMainWin::OpenScaleBtnClick() {
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

void TMainWin::ParseScalaFile(const std::string& path) {
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

void TMainWin::CalculateRepeats() {
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

void TMainWin::ApplyParametersBtnClick() {
    if (const auto f = ParseInitialFrequency(InitialFreqEd->text().toStdString())) {
        InitialFrequency = *f;
    }
    CalculateRepeats();
    RefreshTones();
    RepaintToneZone();
}

TEndType TMainWin::CheckedEndType() const {
    if (EndType2->isChecked()) {
        return TEndType::Fixed;
    }
    if (EndType3->isChecked()) {
        return TEndType::Hinged;
    }
    return TEndType::Free;
}

void TMainWin::RefreshTones() {
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
    warnicon1->hide();

    TToneBankInput in;
    in.ToneRatios = ToneRatios;
    in.InitialFrequency = InitialFrequency;
    in.ExternalObject = ExternalObject->isChecked();
    in.End = CheckedEndType();
    in.ModeWeighting = ModeLevelsTrk->value();
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
    warnicon1->setVisible(r.WarnNoSound);
    if (r.WarnModeFile) {
        warnicon2->show();
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
}

void TMainWin::UpdateStereoConstants() {
    if (Engine) {
        varko::UpdateStereoConstants(*Engine, Flags.Paint2Rows);
    }
}

void TMainWin::RepaintToneZone() {
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

void TMainWin::TabletPacket(const void* pPacket) {
    TPacket packet;
    std::memcpy(&packet, pPacket, sizeof packet);
    Playing().TabletPacket(packet);
}

// ---------------------------------------------------------------------------------------
// Function keys

bool TMainWin::FormKeyUp(int key, Qt::KeyboardModifiers modifiers) {
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

bool TMainWin::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (w->window() == this && !key->isAutoRepeat() &&
            FormKeyUp(key->key(), key->modifiers())) {
            return true; // handled once, not again by the parents
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace varko
