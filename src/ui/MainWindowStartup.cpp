// The main window's start-up in order, its shutdown, and the crash path.
#include "ui/MainWindow.h"

#include "ui/StatusPanels.h"

#include "audio/DriverPanel.h"
#include "core/Texts.h"
#include "files/SettingsFile.h"
#include "midi/MidiInput.h"
#include "ui/AudioHostFactory.h"
#include "ui/TabletEventSource.h"
#include "ui/ToneZone.h"
#include "ui/VarkoApplication.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/CrashWindow.h"
#include "ui/dialogs/DriverPanelDialog.h"
#include "ui/dialogs/NoAudioDeviceNotice.h"
#include "ui/dialogs/NoTabletNotice.h"
#include "ui/dialogs/NoticeLayout.h"
#include "ui/dialogs/SettingsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QSlider>
#include <QTimer>

#include <clocale>
#include <cmath>
#include <filesystem>

namespace varko {

void TMainWindow::StartUp() {
    // The crash window exists before anything can fail.
    crashWin_ = new TCrashWindow(this);
    TVarkoApplication::gOnException = [this](const std::string& cls, const std::string& sender,
                                             const std::string& message) {
        ApplicationException(cls, sender, message);
    };
    // Numbers are read and shown with "." whatever the locale.
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_NUMERIC, "C");
    ShowInstrumentState();

    // What must be known before the settings are applied: the buffer size and rate the player
    // chose in the driver's panel (the driver opens with them), and the tablet notice's choice.
    TVarkoSettings stored;
    {
        TIniFile ini;
        if (ini.Load(SettingsFilePath()) == TIniFile::TLoadResult::Loaded) {
            stored = ReadSettings(ini);
        }
    }
    if (!stored.PanelDriver.empty() && (stored.PanelBufferSize > 0 || stored.PanelSampleRate > 0)) {
        SetDriverChoice(stored.PanelDriver, {static_cast<uint32_t>(stored.PanelBufferSize),
                                             static_cast<double>(stored.PanelSampleRate)});
    }

    // The engine and its host; driver resets rebuild the bank on this thread.
    Instrument.AttachHost(Platform.CreateHost ? Platform.CreateHost() : CreateAudioHost(),
                          [](std::function<void()> job) {
                              QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
                          });

    // The tablet (the settings dialog needs it) and the settings dialog.
    tabletSource_ = std::make_unique<TTabletEventSource>(this);
    if (Platform.ProbeTablet) {
        Platform.ProbeTablet(*tabletSource_);
    }
    tablet_ = std::make_unique<TTablet>(&tabletSource_->Service());
    tabletSource_->Attach(toneZone_);
    tablet_->OnPacket = [this](TCustomTablet*, uint32_t, HCTX, const void* packet) {
        Playing().PenSample(TTabletEventSource::PenSampleFromPacket(packet));
    };
    tablet_->OnProximity = [this](TCustomTablet*, HCTX, bool entering) {
        toneZone_->SetPenCursor(entering);
    };
    auto contextChanged = [this](TCustomTablet*, int32_t, int32_t) {
        LOGCONTEXTA lc;
        tablet_->GetContext(lc);
        Playing().TabletContextUpdate(lc.lcInExtX, lc.lcInExtY);
    };
    tablet_->OnContextOpen = contextChanged;
    tablet_->OnContextUpdate = contextChanged;
    CreateSettingsDialog();

    // Without an audio device there is nothing to play.
    if (Instrument.Audio().DriverList().empty()) {
        TNoAudioDeviceNotice notice(this);
        Platform.ExecModal(notice);
        Halted = true;
        Platform.Halt(0);
        return;
    }

    // The tablet, or the mouse.
    if (OpenVarkoContext(*tablet_)) {
        SetStatusText(0, QString::fromStdString(tablet_->DeviceName()));
        AXIS axis;
        tablet_->GetPressureAxis(axis);
        Playing().SetPressureAxisMax(axis.axMax);
    } else {
        StartWithoutTablet(stored.ShowNoTabletNotice);
    }

    ReadSettingsFile();
    if (noTabletNoticeOff_) {
        Instrument.Settings().SetShowNoTabletNotice(false);
    }
    StartMidi();
    Instrument.ModeFiles().History().Load(HistoryFilePath());
    ShowModeFiles();
    // The meters are read only while they are shown.
    if (Instrument.Settings().Stored().ShowMainLevels) {
        levelTimer_->start();
    }
    audioWatchTimer_->start();
    lastTick_ = Platform.TickCount();
    watchdog_->start();
    if (Instrument.Settings().Stored().RestoreSession) {
        RestoreSession();
    }
}

void TMainWindow::RestoreSession() {
    Instrument.RestoreSessionParameters();
    ShowParameters();
    std::string missing;
    Instrument.RestoreSessionFiles(missing);
    sessionNote_ = QString::fromStdString(missing).replace(QLatin1Char('\n'), QStringLiteral("; "));
    if (!Instrument.Bank().ScalePath().empty()) {
        lastScaleFolder_ =
            QFileInfo(QString::fromStdString(Instrument.Bank().ScalePath())).absolutePath();
    }
    ShowInstrumentState();
}

void TMainWindow::ShowOnScreen() {
    const QScreen* screen =
        this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    // However much the screen scales the window, all of it stays on the screen.
    setMinimumSize(MinimumSize.boundedTo(area.size()));
    resize(size().boundedTo(area.size()));
    CentreOnScreen(this);
    show();
}

void TMainWindow::CreateSettingsDialog() {
    TSettingsOwner owner;
    owner.RepaintToneZone = [this] { RepaintToneZone(); };
    owner.SetStatusText = [this](int panel, const QString& t) { SetStatusText(panel, t); };
    owner.ResetLevelBars = [this] {
        leftMeter_->setValue(0);
        rightMeter_->setValue(0);
        limiterMeter_->setValue(0);
    };
    owner.ShowLimiter = [this](bool shown) {
        limiterMeter_->setValue(0);
        limiterMeter_->setVisible(shown);
    };
    owner.SetLevelTimerEnabled = [this](bool on) {
        if (on) {
            levelTimer_->start();
        } else {
            levelTimer_->stop();
        }
        // Meters that are not read are not shown: frozen ones would mislead.
        leftMeter_->parentWidget()->setVisible(on);
    };
    owner.SetRezTimerInterval = [this](int ms) {
        rezDownTimer_->setInterval(ms);
        rezUpTimer_->setInterval(ms);
    };
    owner.Midi.Ports = [this] {
        return midiInput_ ? midiInput_->Ports() : std::vector<std::string>{};
    };
    owner.Midi.OpenPort = [this](const std::string& name) { return OpenMidiPort(name); };
    owner.Midi.Reachable = [this] { return midiInput_ && midiInput_->Reachable(); };
    owner.Midi.JackInput = [] { return TMidiInput::JackInputOpen(); };
    owner.ResetPressureBar = [this] {
        Playing().PressureBarPosition = 0;
        statusBar_->repaint();
    };
    settings_ = new TSettingsDialog(Instrument, *tablet_, std::move(owner), this);
    settings_->FillDriverList();
    // The driver's own panel (buffer size and sample rate) opens over the settings dialog.
    InstallDriverPanelPresenter(settings_);
}

void TMainWindow::StartWithoutTablet(bool notice) {
    if (notice) {
        TNoTabletNotice box(this);
        Platform.ExecModal(box);
        noTabletNoticeOff_ = box.DontShowBox->isChecked();
    }
    Instrument.Settings().ForceMousePressure();
    if (!settings_->MousePressureBox->isChecked()) {
        settings_->MousePressureBox->click();
    }
    settings_->MousePressureBox->setEnabled(false);
}

void TMainWindow::ReadSettingsFile() {
    const std::string path = SettingsFilePath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        initialDir_ = QCoreApplication::applicationDirPath();
    }
    std::string message;
    bool ok = Instrument.LoadSettingsFile(path, message);
    try {
        settings_->ShowInstrumentSettings();
        masterFader_->setValue(Instrument.Settings().Stored().MasterLevel);
    } catch (...) {
        ok = false;
        message = text::SettingsNotRetrieved;
    }
    if (!ok) {
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
    StopReplay();
    for (QTimer* t : {levelTimer_, leftClipOffTimer_, rightClipOffTimer_, watchdog_,
                      audioWatchTimer_, rezDownTimer_, rezUpTimer_, recordingTimer_}) {
        t->stop();
    }
    StopMidi();
    Instrument.ReleaseEngine();
    if (tablet_) {
        tablet_->Close();
    }
    // The driver panel's choice, for the driver that is open.
    const std::string driver = Instrument.Settings().Stored().ASIOdriverName;
    if (const TDriverPanelChoice c = DriverChoice(driver); c.BufferSize != 0 || c.SampleRate != 0) {
        Instrument.Settings().SetPanelChoice(driver, static_cast<int>(c.BufferSize),
                                             static_cast<int>(std::lround(c.SampleRate)));
    }
    std::string message;
    if (!Instrument.SaveSettingsFile(SettingsFilePath(), message)) {
        MessageBox(QString::fromStdString(message), QMessageBox::Warning);
    }
    Instrument.ModeFiles().History().Save(
        HistoryFilePath()); // a failure loses this run's history only
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
    if (Instrument.Audio().HasEngine()) {
        Instrument.Audio().Engine().Stop();
    }
    crashWin_->SetErrorText(QString::fromStdString(crashText));
    Platform.ExecModal(*crashWin_);
    Halted = true;
    Platform.Halt(EXIT_FAILURE);
}

} // namespace varko
