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

#include <cmath>

namespace varko {

std::function<QString()> TMainWindow::MusicFolder = [] {
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
};

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

void TMainWindow::BuildRecordingControls() {
    RecordingLabel = new QLabel(ToolbarPanel);
    RecordingLabel->setObjectName(QStringLiteral("RecordingLabel"));
    RecordingLabel->setGeometry(ReplayBtn->x() + 2 * 48 + 6, 0, 260, 49);
    RecordBtn->OnClick = [this](TImageButton*) { RecordBtnClick(); };
    ReplayBtn->OnClick = [this](TImageButton*) { ReplayBtnClick(); };

    ReplayTimer = new QTimer(this);
    ReplayTimer->setTimerType(Qt::PreciseTimer);
    ReplayTimer->setInterval(ReplayTickMs);
    connect(ReplayTimer, &QTimer::timeout, this, &TMainWindow::ReplayTick);
    RecordingTimer = new QTimer(this);
    RecordingTimer->setInterval(250);
    connect(RecordingTimer, &QTimer::timeout, this, &TMainWindow::ShowRecordingState);
    Instrument.OnRecordingStopped = [this](const TRecordingResult&) { ShowRecordingState(); };
    ShowRecordingState();
}

void TMainWindow::ShowRecordingState() {
    const bool recording = Instrument.Recording();
    const QString record = recording ? QStringLiteral("RecordBtnOn") : QStringLiteral("RecordBtn");
    RecordBtn->SetImageNormal(ResourceImage(record));
    RecordBtn->setToolTip(
        QString::fromUtf8(recording ? text::StopRecordingTitle : text::RecordTitle));
    const QString replay =
        Replaying() ? QStringLiteral("ReplayBtnStop") : QStringLiteral("ReplayBtn");
    ReplayBtn->SetImageNormal(ResourceImage(replay));
    ReplayBtn->SetImageDown(ResourceImage(replay + QStringLiteral("Down")));
    ReplayBtn->setToolTip(
        QString::fromUtf8(Replaying() ? text::StopReplayTitle : text::ReplayTitle));

    QStringList lines;
    if (recording) {
        lines << QStringLiteral("Recording %1").arg(Minutes(Instrument.RecordedSeconds()));
        RecordingLabel->setToolTip(QString::fromStdString(Instrument.RecordingFolder()));
    } else if (!lastRecording_.isEmpty()) {
        lines << QStringLiteral("Recorded in %1").arg(QDir(lastRecording_).dirName());
    }
    if (Replaying()) {
        lines << QStringLiteral("Replaying");
    }
    RecordingLabel->setText(lines.join(QLatin1Char('\n')));
    if (recording && !RecordingTimer->isActive()) {
        RecordingTimer->start();
    } else if (!recording) {
        RecordingTimer->stop();
    }
}

void TMainWindow::RecordBtnClick() {
    if (Instrument.Recording()) {
        lastRecording_ = QString::fromStdString(Instrument.RecordingFolder());
        const TRecordingResult r = Instrument.StopRecording();
        ShowRecordingState();
        if (!r.Ok) {
            MessageBox(Filled(text::RecordingWriteFailed, r.Error, r.DroppedBlocks),
                       QMessageBox::Critical);
        }
        return;
    }
    if (Instrument.DriverIndex() == -1) {
        MessageBox(QString::fromUtf8(text::ChooseDriver), QMessageBox::Critical);
        return;
    }
    const QString root = MusicFolder() + QStringLiteral("/Varko");
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
    QFileDialog dialog(this, QString::fromUtf8(text::ReplayTitle),
                       MusicFolder() + QStringLiteral("/Varko"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("VARKO_TEST"));
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    StartReplay(dialog.selectedFiles().first());
}

bool TMainWindow::StartReplay(const QString& folder) {
    StopReplay();
    const std::string path = QFile::encodeName(folder).toStdString();
    TPerformanceFolder performance;
    performance.Use(path);
    TPerformanceInfo info;
    std::string error;
    std::optional<TGestureScript> script;
    if (performance.ReadInfo(info, error)) {
        script = LoadGestureScript(performance.File(PerformanceScriptName), error);
    }
    if (!script || !Instrument.HasEngine()) {
        MessageBox(Filled(text::ReplayFailed, error), QMessageBox::Critical);
        return false;
    }
    replay_ =
        std::make_unique<TGesturePlayer>(Instrument, std::move(*script), info.SampleRate, path);
    replay_->Zone = [this] { return ToneZone->Geometry(); };
    replayFrames_ = static_cast<uint64_t>(
        std::llround(static_cast<double>(info.Frames) * Instrument.Engine().Host().SampleRate() /
                     info.SampleRate));
    // The recorded bank at once; the rest as the engine plays on.
    ReplayTick();
    if (!Replaying()) {
        return false;
    }
    ReplayTimer->start();
    ShowRecordingState();
    return true;
}

void TMainWindow::StopReplay() {
    ReplayTimer->stop();
    if (!replay_) {
        return;
    }
    replay_->Release();
    replay_.reset();
    // Banks built from now on get seeds of their own again.
    Instrument.ToneSeeds.clear();
    ShowRecordingState();
}

void TMainWindow::ReplayTick() {
    if (!replay_) {
        return;
    }
    const uint64_t position = Instrument.Engine().SamplePosition.load();
    const uint64_t rebuilt = Instrument.LastRebuildPosition;
    const int master = Instrument.Settings().MasterLevel;
    std::string error;
    if (!replay_->PlayUntil(position, error)) {
        StopReplay();
        MessageBox(Filled(text::ReplayFailed, error), QMessageBox::Critical);
        return;
    }
    if (rebuilt != Instrument.LastRebuildPosition || master != Instrument.Settings().MasterLevel) {
        ShowParameters();
    }
    if (replay_->Finished() && position >= replay_->Origin() + replayFrames_) {
        StopReplay();
    }
}

void TMainWindow::ShowParameters() {
    const TInstrument& in = Instrument;
    InitialFrequencyEdit->setText(QString::number(in.InitialFrequency, 'g', 7));
    ShowKeyboardMapping();
    // The edits pass their values on to the arrows and the instrument.
    RepeatDownEdit->setText(QString::number(in.RepeatDownCount));
    RepeatUpEdit->setText(QString::number(in.RepeatUpCount));
    RepeatEndsBox->setChecked(in.RepeatEnds);
    ModeLimitEdit->setText(QString::number(in.ModeLimit));
    ModeWeightingSlider->setValue(in.ModeWeighting);
    (in.End == TEndType::Fixed    ? EndFixedRadio
     : in.End == TEndType::Hinged ? EndHingedRadio
                                  : EndFreeRadio)
        ->setChecked(true);
    if (in.ExternalObject) {
        ExternalObject->setChecked(true);
        ExternalObjectClick();
    } else {
        InternalObject->setChecked(true);
        InternalObjectClick();
    }
    const QSignalBlocker block(MasterFader);
    MasterFader->setValue(in.Settings().MasterLevel);
}

} // namespace varko
