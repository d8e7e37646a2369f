#include "ui/MainWindow.h"

#include "ui/StatusPanels.h"
#include "ui/UpDown.h"

#include "core/Texts.h"
#include "engine/Tone.h"
#include "files/TextFile.h"
#include "midi/MidiInput.h"
#include "ui/ImageButton.h"
#include "ui/LinkLabel.h"
#include "ui/ProgramFolders.h"
#include "ui/TabletEventSource.h"
#include "ui/ToneZone.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/CrashWindow.h"
#include "ui/dialogs/SettingsDialog.h"
#include "ui/dialogs/UserGuideWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace varko {

TWindowPlatform TWindowPlatform::Desktop() {
    TWindowPlatform p;
    p.ExecModal = [](QDialog& d) { return d.exec(); };
    p.Halt = [](int code) { std::_Exit(code); };
    p.OpenUrl = [](const QUrl& url) {
        return WebBrowserAvailable() && QDesktopServices::openUrl(url);
    };
    p.TickCount = [] {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
    p.MusicFolder = [] { return QStandardPaths::writableLocation(QStandardPaths::MusicLocation); };
    return p;
}

namespace {

// Raw file bytes as text: UTF-8 when valid, else Latin-1 (the scale archive holds both).
QString FileText(const std::string& bytes) {
    if (IsValidUtf8(bytes)) {
        return QString::fromStdString(bytes);
    }
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

TMainWindow::TMainWindow(TWindowPlatform platform, QWidget* parent)
    : QWidget(parent), Platform(std::move(platform)) {
    Instrument.OnMessage = [this](const TInstrumentMessage& m) { ShowMessage(m); };
    Instrument.OnStateChanged = [this] { ShowInstrumentState(); };
    Instrument.OnRebuild = [this](bool preparing) {
        if (preparing) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            statusBar_->repaint();
        } else {
            QApplication::restoreOverrideCursor();
        }
    };
    Instrument.OnOscillatorCrash = [this](const std::string& text) {
        ThreadTerminationCheck(text);
    };
    Instrument.CursorPosition = [] {
        const QPoint c = QCursor::pos();
        return std::pair<float, float>(static_cast<float>(c.x()), static_cast<float>(c.y()));
    };
    Instrument.Bank().SetMakeTone(
        [this] { return Platform.MakeTone ? Platform.MakeTone() : std::make_unique<TTone>(); });
    BuildControls();
    StartUp();
}

TMainWindow::~TMainWindow() {
    ShutDown();
    StopMidi(); // also after a halt, before the instrument goes
    Instrument.OnMessage = nullptr;
    Instrument.OnStateChanged = nullptr;
    Instrument.OnRebuild = nullptr;
    Instrument.OnDeviceLost = nullptr;
    Instrument.OnOscillatorCrash = nullptr;
    Instrument.OnRecordingStopped = nullptr;
    qApp->removeEventFilter(this);
    delete settings_; // it refers to the tablet and the instrument
    settings_ = nullptr;
}

// ---------------------------------------------------------------------------------------
// The instrument as the controls show it

void TMainWindow::ShowInstrumentState() {
    // What of the last session is gone stays in front until the player opens a scale.
    QString description = FileText(Instrument.Bank().Scale().Description);
    if (!sessionNote_.isEmpty()) {
        description = description.isEmpty() ? sessionNote_ : sessionNote_ + "; " + description;
    }
    SetStatusText(2, Instrument.Audio().Preparing()
                         ? QString::fromUtf8(text::Preparing) + QLatin1Char(' ') + description
                         : description);
    SetStatusText(3, QString::fromStdString(Instrument.Bank().ObjectStatus()));
    SetStatusText(4, QString::fromStdString(Instrument.Audio().AudioStatus()));
    // Audio that runs again (a driver or channel chosen after a stop) needs no Restart button,
    // and the watchdog watches it again.
    if (!restartBtn_->isHidden() && Instrument.Audio().Running()) {
        restartBtn_->hide();
        lastTick_ = Platform.TickCount();
        watchdog_->start();
    }
    SetStatusText(
        5, QString::fromUtf8(text::GlitchCounter)
               .replace(QStringLiteral("%1"), QString::number(Instrument.Audio().LateBlocks()))
               .replace(QStringLiteral("%2"), QString::number(Instrument.Audio().Xruns()))
               .replace(QStringLiteral("%3"), QString::number(Instrument.Audio().ToneResets())));
    statusBar_->Tips[5] =
        Instrument.Audio().PoolAdvised() ? QString::fromUtf8(text::PoolAdvice) : QString();
    noSoundWarning_->setVisible(Instrument.Bank().NoSoundWarning());
    modeFileWarning_->setVisible(Instrument.ModeFiles().Warning());

    std::string lines;
    for (const std::string& l : Instrument.Bank().Scale().Lines) {
        lines += l;
        lines += '\n';
    }
    if (lines != shownScaleText_) {
        shownScaleText_ = lines;
        QStringList shown;
        for (const std::string& l : Instrument.Bank().Scale().Lines) {
            shown << FileText(l);
        }
        scaleContentsBox_->setPlainText(shown.join(QLatin1Char('\n')));
    }
    ShowModeFiles();
    RepaintToneZone();
}

void TMainWindow::ShowModeFiles() {
    const QSignalBlocker block(modeFilesCombo_);
    const std::vector<std::string> items = Instrument.ModeFiles().History().ComboItems();
    bool same = modeFilesCombo_->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < modeFilesCombo_->count(); ++i) {
        same = modeFilesCombo_->itemText(i).toStdString() == items[static_cast<size_t>(i)];
    }
    if (!same) {
        modeFilesCombo_->clear();
        for (const std::string& item : items) {
            modeFilesCombo_->addItem(QString::fromStdString(item));
        }
    }
    const int selected = Instrument.ModeFiles().Selected();
    modeFilesCombo_->setCurrentIndex(selected >= 0 ? selected + 1 : -1);
}

void TMainWindow::RepaintToneZone() {
    const std::vector<float> bars = Instrument.Bank().BarRatios();
    if (toneZone_->ToneRatios() != bars) {
        toneZone_->SetToneRatios(bars);
    }
    toneZone_->SetInitialFrequency(Instrument.Bank().InitialFrequency());
    TToneZoneLook look = toneZone_->Look();
    const TVarkoSettings& s = Instrument.Settings().Stored();
    look.Paint2Rows = s.Paint2Rows;
    look.ColoredToneZone = s.ColoredToneZone;
    look.ShowFrequencyLabels = s.ShowFrequencyLabels;
    look.LabelKind = static_cast<TLabelKind>(s.LabelKind);
    look.ScaleStart = std::max(Instrument.Bank().ScaleStart(), 0);
    // The degrees hold the 1/1; a period of the tone list repeats the rest (with its end when the
    // ends are repeated).
    const int degrees = static_cast<int>(Instrument.Bank().Scale().Degrees.size());
    look.Period = degrees > 1 ? degrees - 1 + (Instrument.Bank().RepeatEnds() ? 1 : 0) : 0;
    // What the bank built sounds, not what the settings would build next.
    look.WholeSampleRate = 0.0f;
    if (Instrument.Audio().HasEngine() && !Instrument.Audio().Engine().Oscillators.empty()) {
        const TTone& tone = *Instrument.Audio().Engine().Oscillators.front();
        look.WholeSampleRate = tone.Interpolate ? 0.0f : tone.SampleRate;
    }
    toneZone_->SetLook(look);
}

void TMainWindow::ShowMessage(const TInstrumentMessage& message) {
    MessageBox(QString::fromStdString(message.Text),
               message.Kind == TInstrumentMessage::TKind::Error ? QMessageBox::Critical
                                                                : QMessageBox::Warning);
}

int TMainWindow::MessageBox(const QString& text, int icon, int buttons) {
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), QString::fromUtf8(text::Caption), text,
                    static_cast<QMessageBox::StandardButtons>(buttons), this);
    const int r = Platform.ExecModal(box);
    // exec() answers with the button; a replaced ExecModal may have clicked one.
    if (box.clickedButton() != nullptr) {
        return box.standardButton(box.clickedButton());
    }
    return r;
}

QString TMainWindow::ChooseFile(const char* title, const char* filter, const QString& folder) {
    QFileDialog dialog(this, QString::fromUtf8(title), folder, QString::fromUtf8(filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontUseNativeDialog, qEnvironmentVariableIsSet("VARKO_TEST"));
    if (Platform.ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().first();
}

// ---------------------------------------------------------------------------------------
// Scales and the parameters panel

bool TMainWindow::DriverChosenOrAsk() {
    if (Instrument.Audio().DriverIndex() != -1) {
        return true;
    }
    MessageBox(QString::fromUtf8(text::ChooseDriver), QMessageBox::Critical);
    return false;
}

void TMainWindow::OpenScaleBtnClick() {
    if (!DriverChosenOrAsk()) {
        return;
    }
    // The first scale comes from the examples; later ones from where the last one was.
    QString folder = lastScaleFolder_;
    if (folder.isEmpty()) {
        folder = ExamplesFolder(QStringLiteral("scales"));
    }
    if (folder.isEmpty()) {
        folder = initialDir_;
    }
    const QString path = ChooseFile(text::OpenScaleTitle, text::OpenScaleFilter, folder);
    if (!path.isEmpty()) {
        sessionNote_.clear();
        lastScaleFolder_ = QFileInfo(path).absolutePath();
        Instrument.OpenScale(LocalPath(path));
    }
}

void TMainWindow::OpenKbmClick() {
    QString folder = lastScaleFolder_;
    if (folder.isEmpty()) {
        folder = initialDir_;
    }
    const QString path = ChooseFile(text::OpenKbmTitle, text::OpenKbmFilter, folder);
    if (!path.isEmpty()) {
        Instrument.OpenKeyboardMapping(LocalPath(path));
        ShowKeyboardMapping();
    }
}

void TMainWindow::ShowKeyboardMapping() {
    if (kbmNameLabel_ == nullptr) {
        return;
    }
    const bool mapped = !Instrument.Bank().KbmPath().empty();
    kbmNameLabel_->setText(
        mapped ? QFileInfo(QString::fromStdString(Instrument.Bank().KbmPath())).fileName()
               : QStringLiteral("one key per bar"));
    kbmNameLabel_->setToolTip(mapped ? QString::fromStdString(Instrument.Bank().KbmPath())
                                     : QString());
    noKbmLink_->setEnabled(mapped);
    // The mapping's reference frequency tunes the scale.
    initialFrequencyEdit_->setText(QString::number(Instrument.Bank().InitialFrequency(), 'g', 7));
}

void TMainWindow::ApplyParametersBtnClick() {
    if (const auto f = ParseInitialFrequency(initialFrequencyEdit_->text().toStdString())) {
        Instrument.Bank().SetInitialFrequency(*f);
    }
    Instrument.Apply();
}

TEndType TMainWindow::CheckedEndType() const {
    if (endFixedRadio_->isChecked()) {
        return TEndType::Fixed;
    }
    if (endHingedRadio_->isChecked()) {
        return TEndType::Hinged;
    }
    return TEndType::Free;
}

void TMainWindow::MasterLevelResetClick() {
    masterFader_->setValue(MasterFaderStart);
}

void TMainWindow::ModeLimitEditChange() {
    bool ok = false;
    const int n = modeLimitEdit_->text().toInt(&ok);
    if (ok && n > 0) {
        modeLimitArrows_->SetPosition(n);
    }
}

void TMainWindow::ModeWeightingChange() {
    const int p = modeWeightingSlider_->value();
    Instrument.Bank().SetModeWeighting(p);
    if (p == ModeWeightFactorial) {
        modeWeightingExponent_->hide();
        modeWeightingFormula_->setText(QStringLiteral("1/n!"));
    } else {
        modeWeightingExponent_->setText(QString::number(p / 2.0, 'g', 3));
        modeWeightingExponent_->show();
        modeWeightingFormula_->setText(QStringLiteral("1/n"));
    }
    // "1/n!" is wider than "1/n": the label follows its text.
    modeWeightingFormula_->adjustSize();
}

void TMainWindow::RepeatDownEditChange() {
    if (const auto n = ParseRepeatCount(repeatDownEdit_->text().toStdString())) {
        repeatDownArrows_->SetPosition(*n);
    }
}

void TMainWindow::RepeatUpEditChange() {
    if (const auto n = ParseRepeatCount(repeatUpEdit_->text().toStdString())) {
        repeatUpArrows_->SetPosition(*n);
    }
}

void TMainWindow::ParametersBtnClick() {
    parametersPanel_->setVisible(!parametersPanel_->isVisible());
}

void TMainWindow::ContentsBtnClick() {
    scaleContentsPanel_->setVisible(!scaleContentsPanel_->isVisible());
}

void TMainWindow::SettingsBtnClick() {
    Platform.ExecModal(*settings_);
}

// ---------------------------------------------------------------------------------------
// Mode files

void TMainWindow::InternalObjectClick() {
    for (QWidget* w :
         {static_cast<QWidget*>(modeWeightingLabel_), static_cast<QWidget*>(modeWeightingSlider_),
          static_cast<QWidget*>(modeWeightingFormula_),
          static_cast<QWidget*>(modeWeightingExponent_)}) {
        w->setEnabled(true);
    }
    modeFilesCombo_->setEnabled(false);
}

void TMainWindow::ExternalObjectClick() {
    for (QWidget* w :
         {static_cast<QWidget*>(modeWeightingLabel_), static_cast<QWidget*>(modeWeightingSlider_),
          static_cast<QWidget*>(modeWeightingFormula_),
          static_cast<QWidget*>(modeWeightingExponent_)}) {
        w->setEnabled(false);
    }
    modeFilesCombo_->setEnabled(true);
}

void TMainWindow::ModeFilesComboSelect() {
    const int index = modeFilesCombo_->currentIndex();
    if (index > 0) {
        Instrument.ModeFiles().LoadFromHistory(index - 1);
        return;
    }
    if (index == 0) {
        // Mode files are looked for among mode files: the last one's folder, else the examples.
        QString folder = lastModeFolder_;
        if (folder.isEmpty()) {
            folder = ExamplesFolder(QStringLiteral("modes"));
        }
        if (folder.isEmpty()) {
            folder = initialDir_;
        }
        const QString path = ChooseFile(text::OpenModeTitle, text::OpenModeFilter, folder);
        if (path.isEmpty()) {
            Instrument.ModeFiles().Select(-1);
            ShowModeFiles();
            return;
        }
        lastModeFolder_ = QFileInfo(path).absolutePath();
        Instrument.ModeFiles().Load(LocalPath(path));
    }
}

// ---------------------------------------------------------------------------------------
// Help

void TMainWindow::HelpBtnClick() {
    helpPanel_->setVisible(!helpPanel_->isVisible());
    helpPanel_->raise();
}

void TMainWindow::AboutMenuItemClick() {
    if (AboutBox != nullptr) {
        AboutBox->show();
        AboutBox->raise();
    }
    helpPanel_->hide();
}

void TMainWindow::HelpMenuItemClick() {
    if (!Platform.OpenUrl(QUrl::fromLocalFile(UserGuidePath()))) {
        // Without a web browser the guide shows in a window of the program's own.
        if (guideWindow_ == nullptr) {
            guideWindow_ = new TUserGuideWindow(UserGuidePath(), this);
        }
        guideWindow_->show();
        guideWindow_->raise();
        guideWindow_->activateWindow();
    }
    helpPanel_->hide();
}

void TMainWindow::GetScaleFilesMenuItemClick() {
    helpPanel_->hide();
    if (MessageBox(QString::fromUtf8(text::ScaleArchive), QMessageBox::Information,
                   QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok) {
        Platform.OpenUrl(QUrl(QString::fromUtf8(text::ScaleArchiveUrl)));
    }
}

} // namespace varko
