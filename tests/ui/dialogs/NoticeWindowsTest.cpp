// The small fixed windows: their texts, and the driver panel's choice.
#include "core/Texts.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/AudioStoppedNotice.h"
#include "ui/dialogs/CrashWindow.h"
#include "ui/dialogs/DriverPanelDialog.h"
#include "ui/dialogs/NoAudioDeviceNotice.h"
#include "ui/dialogs/NoTabletNotice.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace varko;

TEST(NoticeWindows, CrashWindowShowsTheErrorText) {
    TCrashWindow w;
    EXPECT_EQ(w.windowTitle(), "Varko");
    EXPECT_EQ(w.ErrorText(), "No information available.");
    w.SetErrorText("std::runtime_error@TWaveguideThread: out of bands");
    EXPECT_EQ(w.ErrorText(), "std::runtime_error@TWaveguideThread: out of bands");
    EXPECT_TRUE(w.ErrorBox->isReadOnly());
    EXPECT_EQ(w.DismissButton->text(), "Close");
    EXPECT_EQ(w.size(), QSize(431, 209));
}

TEST(NoticeWindows, ProcessingLoadWindowHasBothSetsOfTexts) {
    TAudioStoppedNotice w;
    EXPECT_EQ(w.Headline->text(), text::LoadStopped);
    EXPECT_EQ(w.Advice->text(), text::LoadAdvice);
    w.SetTexts(text::UserStopped, text::UserStoppedAdvice);
    EXPECT_EQ(w.Headline->text(), "Audio was stopped.");
    EXPECT_EQ(w.Advice->text(), "To resume audio, click the Restart Audio button.");
    EXPECT_FALSE(w.ToolbarPicture->pixmap().isNull()); // the toolbar cut-out from the resources
}

TEST(NoticeWindows, NoTabletAndNoDeviceNotices) {
    TNoTabletNotice t;
    EXPECT_EQ(t.Headline->text(),
              "Varko could not find any graphics tablets connected to this computer.");
    EXPECT_EQ(t.DismissButton->text(), "OK");
    TNoAudioDeviceNotice a;
    EXPECT_EQ(a.Headline->text(), "Varko could not find any audio output devices.");
    EXPECT_TRUE(a.Advice->text().contains("JACK"));
    EXPECT_TRUE(a.ServerLink->text().contains("https://jackaudio.org/"));
    EXPECT_EQ(a.DismissButton->text(), "Quit");
    EXPECT_EQ(a.size(), QSize(449, 193));
}

TEST(NoticeWindows, AboutBoxIsNotModalAndStaysOnTop) {
    TAboutBox b;
    EXPECT_FALSE(b.isModal());
    EXPECT_TRUE(b.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(b.VersionLabel->text(), "1.01");
    // "Varko" in bold, whole, and the version beside it rather than over it.
    const QFontMetrics bold(b.NameLabel->font());
    EXPECT_GE(b.NameLabel->contentsRect().width(), bold.horizontalAdvance("Varko"));
    EXPECT_FALSE(b.NameLabel->geometry().intersects(b.VersionLabel->geometry()));
    EXPECT_LE(b.VersionLabel->geometry().right(), b.width());
    EXPECT_TRUE(b.Credits->toPlainText().contains("RtAudio"));
    EXPECT_TRUE(UserGuidePath().endsWith("User Guide.htm"));
}

TEST(DriverPanel, OffersTheDevicesChoicesAndReturnsThePick) {
    TDriverPanelOffer offer;
    offer.DriverName = "ALSA: USB Audio";
    offer.BufferSizes = {64, 128, 256, 512};
    offer.CurrentBufferSize = 256;
    offer.SampleRates = {44100, 48000, 96000};
    offer.CurrentSampleRate = 48000;
    TDriverPanelDialog w(offer);
    EXPECT_EQ(w.windowTitle(), "ALSA: USB Audio");
    EXPECT_EQ(w.BufferSizeCombo->count(), 4);
    EXPECT_EQ(w.BufferSizeCombo->currentText(), "256 samples");
    EXPECT_EQ(w.SampleRateCombo->currentText(), "48000 Hz");
    w.BufferSizeCombo->setCurrentIndex(1);
    w.SampleRateCombo->setCurrentIndex(2);
    const TDriverPanelChoice c = w.Choice();
    EXPECT_EQ(c.BufferSize, 128u);
    EXPECT_EQ(c.SampleRate, 96000.0);
}
