// Recording the performance (the Record button, Ctrl+R) and replaying a recorded one through the
// instrument (the Replay button, which stops the replay while it runs).
#include "ui/MainWindow.h"

#include "core/Texts.h"
#include "files/PerformanceFolder.h"
#include "ui/ImageButton.h"
#include "ui/Resources.h"
#include "ui/ToneZone.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <thread>

namespace varko {

namespace {

// Often enough that an event reaches the engine before the block it is due in.
constexpr int ReplayTickMs = 2;

QString Minutes(double seconds) {
    const auto s = static_cast<long long>(seconds);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString Filled(const char* text, const std::string& one, uint64_t two = 0) {
    return QString::fromUtf8(text)
        .replace(QStringLiteral("%1"), QString::fromStdString(one))
        .replace(QStringLiteral("%2"), QString::number(two));
}

} // namespace

// A 250 MB script takes seconds to read: its thread reads it and orders its events while the
// window paints on; the window takes the player once Done is set.
struct TMainWindow::TReplayLoad {
    std::atomic<bool> Stop{false};
    std::atomic<bool> Done{false}; // written by Worker last, read by the window's thread
    // Written by Worker before Done, read by the window's thread after.
    std::unique_ptr<TGesturePlayer> Player;
    TPerformanceInfo Info;
    std::string Error;
    std::thread Worker;

    ~TReplayLoad() {
        Stop = true;
        if (Worker.joinable()) {
            Worker.join();
        }
    }
};

void TMainWindow::BuildRecordingControls() {
    recordingLabel_ = new QLabel(toolbarPanel_);
    recordingLabel_->setGeometry(replayBtn_->x() + 2 * 48 + 6, 0, 260, 49);
    recordBtn_->OnClick = [this](TImageButton*) { RecordBtnClick(); };
    replayBtn_->OnClick = [this](TImageButton*) { ReplayBtnClick(); };

    replayTimer_ = new QTimer(this);
    replayTimer_->setTimerType(Qt::PreciseTimer);
    replayTimer_->setInterval(ReplayTickMs);
    connect(replayTimer_, &QTimer::timeout, this, &TMainWindow::ReplayTick);
    recordingTimer_ = new QTimer(this);
    recordingTimer_->setInterval(250);
    connect(recordingTimer_, &QTimer::timeout, this, &TMainWindow::ShowRecordingState);
    Instrument.OnRecordingStopped = [this](const TRecordingResult&) { ShowRecordingState(); };
    ShowRecordingState();
}

void TMainWindow::ShowRecordingState() {
    const bool recording = Instrument.Recording().Active();
    const QString record = recording ? QStringLiteral("RecordBtnOn") : QStringLiteral("RecordBtn");
    recordBtn_->SetImageNormal(ResourceImage(record));
    recordBtn_->setToolTip(
        QString::fromUtf8(recording ? text::StopRecordingTitle : text::RecordTitle));
    const QString replay =
        Replaying() ? QStringLiteral("ReplayBtnStop") : QStringLiteral("ReplayBtn");
    replayBtn_->SetImageNormal(ResourceImage(replay));
    replayBtn_->SetImageDown(ResourceImage(replay + QStringLiteral("Down")));
    replayBtn_->setToolTip(
        QString::fromUtf8(Replaying() ? text::StopReplayTitle : text::ReplayTitle));

    QStringList lines;
    if (recording) {
        lines << QStringLiteral("Recording %1")
                     .arg(Minutes(Instrument.Recording().RecordedSeconds()));
        recordingLabel_->setToolTip(QString::fromStdString(Instrument.Recording().Folder()));
    } else if (!lastRecording_.isEmpty()) {
        lines << QStringLiteral("Recorded in %1").arg(QDir(lastRecording_).dirName());
    }
    if (ReplayLoading()) {
        lines << QStringLiteral("Reading the take\u2026");
    } else if (Replaying()) {
        lines << QStringLiteral("Replaying");
    }
    recordingLabel_->setText(lines.join(QLatin1Char('\n')));
    if (recording && !recordingTimer_->isActive()) {
        recordingTimer_->start();
    } else if (!recording) {
        recordingTimer_->stop();
    }
}

void TMainWindow::RecordBtnClick() {
    if (Instrument.Recording().Active()) {
        lastRecording_ = QString::fromStdString(Instrument.Recording().Folder());
        const TRecordingResult r = Instrument.StopRecording();
        ShowRecordingState();
        if (!r.Ok) {
            MessageBox(Filled(text::RecordingWriteFailed, r.Error, r.DroppedBlocks),
                       QMessageBox::Critical);
        }
        return;
    }
    if (!DriverChosenOrAsk()) {
        return;
    }
    const QString root = Platform.MusicFolder() + QStringLiteral("/Varko");
    if (Instrument.StartRecording(QFile::encodeName(root).toStdString())) {
        lastRecording_.clear();
    }
    ShowRecordingState();
}

void TMainWindow::ReplayBtnClick() {
    if (Replaying()) {
        StopReplay();
        return;
    }
    if (!DriverChosenOrAsk()) {
        return;
    }
    QFileDialog dialog(this, QString::fromUtf8(text::ReplayTitle),
                       Platform.MusicFolder() + QStringLiteral("/Varko"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("VARKO_TEST"));
    if (Platform.ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    StartReplay(dialog.selectedFiles().first());
}

bool TMainWindow::StartReplay(const QString& folder) {
    StopReplay();
    std::erase_if(stoppedLoads_, [](const auto& load) { return load->Done.load(); });
    if (!Instrument.Audio().HasEngine()) {
        MessageBox(QString::fromUtf8(text::ChooseDriver), QMessageBox::Critical);
        return false;
    }
    auto load = std::make_shared<TReplayLoad>();
    const std::string path = QFile::encodeName(folder).toStdString();
    const double rate = Instrument.Audio().Engine().Host().SampleRate();
    const uint32_t block = Instrument.Audio().Engine().Host().BufferSize();
    load->Worker = std::thread([load = load.get(), &instrument = Instrument, path, rate, block] {
        TPerformanceFolder performance;
        performance.Use(path);
        std::optional<TGestureScript> script;
        if (performance.ReadInfo(load->Info, load->Error)) {
            script = LoadGestureScript(performance.File(PerformanceScriptName), load->Error,
                                       &load->Stop);
        }
        if (script && !load->Stop) {
            load->Player = std::make_unique<TGesturePlayer>(
                instrument, std::move(*script), load->Info.SampleRate, path, rate, block);
        }
        load->Done.store(true, std::memory_order_release);
    });
    replayLoad_ = std::move(load);
    replayTimer_->start();
    ShowRecordingState();
    return true;
}

bool TMainWindow::TakeReplayLoad() {
    const std::shared_ptr<TReplayLoad> load = std::move(replayLoad_);
    load->Worker.join();
    if (!load->Player || !Instrument.Audio().HasEngine()) {
        replayTimer_->stop();
        ShowRecordingState();
        // The take read well but the engine went while it loaded: the driver is the reason.
        MessageBox(load->Player ? QString::fromUtf8(text::ChooseDriver)
                                : Filled(text::ReplayFailed, load->Error),
                   QMessageBox::Critical);
        return false;
    }
    replay_ = std::move(load->Player);
    replay_->Zone = [this] { return toneZone_->Geometry(); };
    replayFrames_ = static_cast<uint64_t>(
        std::llround(static_cast<double>(load->Info.Frames) *
                     Instrument.Audio().Engine().Host().SampleRate() / load->Info.SampleRate));
    ShowRecordingState();
    return true;
}

void TMainWindow::StopReplay() {
    replayTimer_->stop();
    if (replayLoad_) {
        // Its thread gives up soon; the window does not wait for it.
        replayLoad_->Stop = true;
        stoppedLoads_.push_back(std::move(replayLoad_));
        ShowRecordingState();
    }
    if (!replay_) {
        return;
    }
    replay_->Release();
    replay_.reset();
    // Banks built from now on get seeds of their own again.
    Instrument.Bank().SetToneSeeds({});
    ShowRecordingState();
}

void TMainWindow::ReplayTick() {
    if (replayLoad_) {
        if (!replayLoad_->Done.load(std::memory_order_acquire) || !TakeReplayLoad()) {
            return;
        }
        // The recorded bank at once; the rest as the engine plays on.
    }
    if (!replay_) {
        return;
    }
    const uint64_t position = Instrument.Audio().Engine().SamplePosition.load();
    const uint64_t rebuilt = Instrument.Bank().LastRebuildPosition();
    const int master = Instrument.Settings().Stored().MasterLevel;
    std::string error;
    if (!replay_->PlayUntil(position, error)) {
        StopReplay();
        MessageBox(Filled(text::ReplayFailed, error), QMessageBox::Critical);
        return;
    }
    if (rebuilt != Instrument.Bank().LastRebuildPosition() ||
        master != Instrument.Settings().Stored().MasterLevel) {
        ShowParameters();
    }
    if (replay_->Finished() && position >= replay_->Origin() + replayFrames_) {
        StopReplay();
    }
}

void TMainWindow::ShowParameters() {
    const TInstrument& in = Instrument;
    initialFrequencyEdit_->setText(QString::number(in.Bank().InitialFrequency(), 'g', 7));
    ShowKeyboardMapping();
    // The edits pass their values on to the arrows and the instrument.
    repeatDownEdit_->setText(QString::number(in.Bank().RepeatDownCount()));
    repeatUpEdit_->setText(QString::number(in.Bank().RepeatUpCount()));
    repeatEndsBox_->setChecked(in.Bank().RepeatEnds());
    modeLimitEdit_->setText(QString::number(in.Bank().ModeLimit()));
    modeWeightingSlider_->setValue(in.Bank().ModeWeighting());
    (in.Bank().End() == TEndType::Fixed    ? endFixedRadio_
     : in.Bank().End() == TEndType::Hinged ? endHingedRadio_
                                           : endFreeRadio_)
        ->setChecked(true);
    if (in.Bank().ExternalObject()) {
        externalObject_->setChecked(true);
        ExternalObjectClick();
    } else {
        internalObject_->setChecked(true);
        InternalObjectClick();
    }
    const QSignalBlocker block(masterFader_);
    masterFader_->setValue(in.Settings().Stored().MasterLevel);
}

} // namespace varko
