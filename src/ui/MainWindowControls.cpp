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

    toolbarPanel_ = new QWidget(this);
    toolbarPanel_->setFixedHeight(49);
    toolbarPanel_->setAutoFillBackground(true);
    QPalette tp = toolbarPanel_->palette();
    tp.setColor(QPalette::Window, QColor(218, 218, 218));
    toolbarPanel_->setPalette(tp);
    root->addWidget(toolbarPanel_);
    struct Btn {
        TImageButton*& Button;
        const char* Name;
        const char* Hint;
    };
    const Btn buttons[] = {{openScaleBtn_, "OpenScaleBtn", "Open Scale"},
                           {parametersBtn_, "ParametersBtn", "Parameters"},
                           {contentsBtn_, "ContentsBtn", "Scale Contents"},
                           {settingsBtn_, "SettingsBtn", "Settings"},
                           {helpBtn_, "HelpBtn", "Help"},
                           {recordBtn_, "RecordBtn", text::RecordTitle},
                           {replayBtn_, "ReplayBtn", text::ReplayTitle},
                           {restartBtn_, "RestartBtn", "Restart Audio"}};
    int x = 0;
    for (const Btn& b : buttons) {
        b.Button = new TImageButton(toolbarPanel_);
        SetupToolbarButton(*b.Button, QString::fromUtf8(b.Name));
        b.Button->move(x, 0);
        b.Button->setToolTip(QString::fromUtf8(b.Hint));
        b.Button->setToolTipDuration(30000);
        x += 48;
    }
    restartBtn_->hide();
    openScaleBtn_->OnClick = [this](TImageButton*) { OpenScaleBtnClick(); };
    parametersBtn_->OnClick = [this](TImageButton*) { ParametersBtnClick(); };
    contentsBtn_->OnClick = [this](TImageButton*) { ContentsBtnClick(); };
    settingsBtn_->OnClick = [this](TImageButton*) { SettingsBtnClick(); };
    helpBtn_->OnClick = [this](TImageButton*) { HelpBtnClick(); };
    restartBtn_->OnClick = [this](TImageButton*) { RestartBtnClick(); };

    auto* tbLayout = new QHBoxLayout(toolbarPanel_);
    tbLayout->setContentsMargins(0, 0, 6, 0);
    tbLayout->addStretch(1);
    auto* meters = new QWidget(toolbarPanel_);
    meters->setFixedSize(34, 49);
    tbLayout->addWidget(meters);
    leftClipLed_ = new TClipLed(meters);
    leftClipLed_->setGeometry(0, 0, 12, 4);
    rightClipLed_ = new TClipLed(meters);
    rightClipLed_->setGeometry(14, 0, 12, 4);
    leftMeter_ = new TLevelMeter(meters);
    rightMeter_ = new TLevelMeter(meters);
    leftMeter_->setGeometry(0, 4, 12, 45);
    rightMeter_->setGeometry(14, 4, 12, 45);
    limiterMeter_ = new QProgressBar(meters);
    limiterMeter_->setOrientation(Qt::Vertical);
    limiterMeter_->setInvertedAppearance(true);
    limiterMeter_->setTextVisible(false);
    limiterMeter_->setRange(0, 12);
    limiterMeter_->setValue(0);
    limiterMeter_->setGeometry(28, 4, 6, 45);
    limiterMeter_->setToolTip(QStringLiteral(
        "Limiter: how far it turns the sound down, 0 to 12 dB. The lamps above the meters "
        "light when the sound before the limiter reaches full scale."));

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    root->addLayout(middle, 1);

    parametersPanel_ = new QWidget(this);
    parametersPanel_->setFixedWidth(ParametersWidth);
    BuildParametersPanel();
    parametersPanel_->hide();
    middle->addWidget(parametersPanel_);

    toneZone_ = new TToneZone(this);
    toneZone_->setMinimumSize(1, 1);
    middle->addWidget(toneZone_, 1);

    scaleContentsPanel_ = new QWidget(this);
    scaleContentsPanel_->setFixedWidth(182);
    QWidget* contentsTitle =
        AddPanelTitle(scaleContentsPanel_, QStringLiteral("Scale Contents"), closeContentsLink_);
    scaleContentsBox_ = new QPlainTextEdit(scaleContentsPanel_);
    scaleContentsBox_->setReadOnly(true);
    scaleContentsBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
    scaleContentsBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scaleContentsBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* cl = new QVBoxLayout(scaleContentsPanel_);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(2);
    cl->addWidget(contentsTitle);
    auto* box = new QHBoxLayout;
    box->setContentsMargins(2, 0, 2, 2);
    box->addWidget(scaleContentsBox_);
    cl->addLayout(box, 1);
    scaleContentsPanel_->hide();
    middle->addWidget(scaleContentsPanel_);
    closeContentsLink_->OnClick = [this] { ContentsBtnClick(); };

    statusBar_ = new TStatusPanels(this);
    root->addWidget(statusBar_);
    statusBar_->SetText(0, QString::fromUtf8(text::NoTablet));
    statusBar_->OnDrawPanel = [this](QPainter& p) { DrawPressurePanel(p); };

    helpPanel_ = new QWidget(this);
    helpPanel_->setGeometry(200, 49, 113, 59);
    helpPanel_->setAutoFillBackground(true);
    helpPanel_->setStyleSheet(QStringLiteral(
        "QWidget#HelpPanel { background: rgb(240,240,240); border: 1px solid rgb(200,200,200); }"));
    helpPanel_->setObjectName(QStringLiteral("HelpPanel")); // before it is polished
    helpMenuItem_ = new TLinkLabel(QStringLiteral("User Guide (F1)"), helpPanel_);
    helpMenuItem_->move(8, 4);
    getScaleFilesMenuItem_ = new TLinkLabel(QStringLiteral("Get more scale files"), helpPanel_);
    getScaleFilesMenuItem_->move(8, 21);
    aboutMenuItem_ = new TLinkLabel(QStringLiteral("About..."), helpPanel_);
    aboutMenuItem_->move(8, 38);
    closeHelpLink_ = new TLinkLabel(QStringLiteral("×"), helpPanel_, false);
    closeHelpLink_->setGeometry(98, 1, 14, 14);
    // 113 pixels wide for its links, or wider when the desktop's font needs it.
    int helpWidth = 113;
    for (QLabel* l :
         {static_cast<QLabel*>(helpMenuItem_), static_cast<QLabel*>(getScaleFilesMenuItem_),
          static_cast<QLabel*>(aboutMenuItem_)}) {
        l->adjustSize();
        helpWidth = std::max(helpWidth, l->width() + 26);
    }
    helpPanel_->resize(helpWidth, 59);
    closeHelpLink_->move(helpWidth - 15, 1);
    helpMenuItem_->OnClick = [this] { HelpMenuItemClick(); };
    getScaleFilesMenuItem_->OnClick = [this] { GetScaleFilesMenuItemClick(); };
    aboutMenuItem_->OnClick = [this] { AboutMenuItemClick(); };
    closeHelpLink_->OnClick = [this] { helpPanel_->hide(); };
    helpPanel_->hide();

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
        NAMED(toolbarPanel_), NAMED(openScaleBtn_), NAMED(parametersBtn_), NAMED(contentsBtn_),
        NAMED(settingsBtn_), NAMED(helpBtn_), NAMED(restartBtn_), NAMED(recordBtn_), NAMED(replayBtn_),
        NAMED(recordingLabel_), NAMED(leftClipLed_), NAMED(rightClipLed_), NAMED(leftMeter_),
        NAMED(rightMeter_), NAMED(limiterMeter_), NAMED(statusBar_), NAMED(toneZone_),
        NAMED(parametersPanel_), NAMED(parametersScroll_), NAMED(closeParametersLink_),
        NAMED(initialFrequencyEdit_), NAMED(noSoundWarning_), NAMED(repeatDownEdit_),
        NAMED(repeatDownArrows_), NAMED(repeatUpEdit_), NAMED(repeatUpArrows_), NAMED(repeatEndsBox_),
        NAMED(internalObject_), NAMED(externalObject_), NAMED(modeWeightingLabel_),
        NAMED(modeWeightingSlider_), NAMED(modeWeightingFormula_), NAMED(modeWeightingExponent_),
        NAMED(modeFilesCombo_), NAMED(modeFileWarning_), NAMED(objectGroup_), NAMED(endTypeGroup_),
        NAMED(endFreeRadio_), NAMED(endFixedRadio_), NAMED(endHingedRadio_), NAMED(modeLimitEdit_),
        NAMED(kbmNameLabel_), NAMED(openKbmLink_), NAMED(noKbmLink_), NAMED(modeLimitArrows_),
        NAMED(resonanceFader_), NAMED(resonanceReset_), NAMED(masterFader_), NAMED(masterLevelReset_),
        NAMED(applyParametersBtn_), NAMED(scaleContentsPanel_), NAMED(closeContentsLink_),
        NAMED(scaleContentsBox_), NAMED(helpPanel_), NAMED(helpMenuItem_),
        NAMED(getScaleFilesMenuItem_), NAMED(aboutMenuItem_), NAMED(closeHelpLink_), NAMED(levelTimer_),
        NAMED(leftClipOffTimer_), NAMED(rightClipOffTimer_), NAMED(watchdog_), NAMED(audioWatchTimer_),
        NAMED(rezDownTimer_), NAMED(rezUpTimer_), NAMED(replayTimer_), NAMED(recordingTimer_),
    };
    // clang-format on
#undef NAMED
    // A control's name is its field's without the underscore, capitalised: "OpenScaleBtn".
    for (const auto& [control, field] : controls) {
        QString name = QString::fromLatin1(field);
        name.chop(name.endsWith(u'_') ? 1 : 0);
        name[0] = name[0].toUpper();
        control->setObjectName(name);
    }
}

void TMainWindow::BuildTimers() {
    auto makeTimer = [this](int interval, auto handler) {
        auto* t = new QTimer(this);
        t->setInterval(interval);
        connect(t, &QTimer::timeout, this, handler);
        return t;
    };
    levelTimer_ = makeTimer(50, &TMainWindow::ShowLevels);
    leftClipOffTimer_ = makeTimer(1000, &TMainWindow::LeftClipOff);
    rightClipOffTimer_ = makeTimer(1000, &TMainWindow::RightClipOff);
    watchdog_ = makeTimer(5000, &TMainWindow::WatchdogTick);
    audioWatchTimer_ = makeTimer(250, [this] { Instrument.Audio().WatchAudio(); });
    rezDownTimer_ = makeTimer(30, [this] { Playing().ResonanceStepDown(); });
    rezUpTimer_ = makeTimer(30, [this] { Playing().ResonanceStepUp(); });
}

void TMainWindow::ConnectPlaying() {
    TPlaying& play = Playing();
    toneZone_->OnMouseMove = [this](int zx, int zy) {
        const QPoint c = QCursor::pos();
        Playing().ToneZoneMouseMove(toneZone_->Geometry(), toneZone_->BarWidthReciprocal(), zx, zy,
                                    static_cast<float>(c.x()), static_cast<float>(c.y()));
    };
    toneZone_->OnMouseDown = [this](TMouseButton b, int, int) { Playing().PointerDown(b); };
    toneZone_->OnMouseUp = [this](TMouseButton b, int, int) { Playing().PointerUp(b); };
    play.OnResonanceFaderChanged = [this](int p) {
        const QSignalBlocker block(resonanceFader_);
        resonanceFader_->setValue(p);
    };
    play.OnPressureBarChanged = [this] {
        // Painted with the next frame: a replay's flood of pen events once spent 15 s in a
        // repaint each.
        statusBar_->update();
    };
    play.OnRezTimersChanged = [this] {
        auto follow = [](QTimer* t, bool on) {
            if (on && !t->isActive()) {
                t->start();
            } else if (!on) {
                t->stop();
            }
        };
        follow(rezDownTimer_, Playing().RezDownTimerEnabled);
        follow(rezUpTimer_, Playing().RezUpTimerEnabled);
    };
}

} // namespace varko
