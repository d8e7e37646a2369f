// The window as a player sees it on a real X display (Xvfb), at the scale factor the test runs
// with (QT_SCALE_FACTOR): the notices at start-up, then the window at its minimum and at a large
// size with both side panels open, 37 bars and a bar held. Every check measures what is on the
// screen; the screenshots stay in the build tree (VARKO_SCREENSHOTS).
#include "WindowFixture.h"
#include "engine/NullHost.h"
#include "ui/ClipLed.h"
#include "ui/ImageButton.h"
#include "ui/MainWindow.h"
#include "ui/StatusPanels.h"
#include "ui/ToneZone.h"
#include "ui/ToneZonePainter.h"
#include "ui/VarkoApplication.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/SettingsDialog.h"
#include "ui/dialogs/UserGuideWindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

using namespace varko;
using test::Find;

namespace {

QString ScaleTag() {
    const QByteArray s = qgetenv("QT_SCALE_FACTOR");
    return QStringLiteral("x") + (s.isEmpty() ? QStringLiteral("1") : QString::fromLatin1(s));
}

// The whole screen as the player sees it, kept as build/screenshots/<name>-x<scale>.png.
QImage Screenshot(const QString& name) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage shot = screen->grabWindow(0).toImage();
    const QString dir = qEnvironmentVariable("VARKO_SCREENSHOTS", QDir::currentPath());
    QDir().mkpath(dir);
    shot.save(QDir(dir).filePath(name + QLatin1Char('-') + ScaleTag() + QStringLiteral(".png")));
    return shot;
}

QString Describe(const QWidget* w) {
    QString s = QString::fromLatin1(w->metaObject()->className());
    if (!w->objectName().isEmpty()) {
        s += QLatin1Char(' ') + w->objectName();
    }
    if (const auto* l = qobject_cast<const QLabel*>(w)) {
        s += QStringLiteral(" \"") + l->text() + QLatin1Char('"');
    } else if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
        s += QStringLiteral(" \"") + b->text() + QLatin1Char('"');
    }
    return s;
}

// The part of the widget the player can see, in window coordinates.
QRect SeenRect(const QWidget* w) {
    const QRect seen = w->visibleRegion().boundingRect();
    return QRect(w->mapTo(w->window(), seen.topLeft()), seen.size());
}

// Whole: shown, inside the window, and not clipped by a parent.
bool WhollySeen(const QWidget* w) {
    if (!w->isVisible() || w->visibleRegion() != QRegion(w->rect())) {
        return false;
    }
    const QRect inWindow(w->mapTo(w->window(), QPoint(0, 0)), w->size());
    return w->window()->rect().contains(inWindow);
}

// Where a button's caption goes: the style's contents rectangle of the button.
QRect CaptionArea(const QAbstractButton* b) {
    QStyleOptionButton option;
    option.initFrom(b);
    option.text = b->text();
    QStyle::SubElement area = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox*>(b) != nullptr) {
        area = QStyle::SE_CheckBoxContents;
    } else if (qobject_cast<const QRadioButton*>(b) != nullptr) {
        area = QStyle::SE_RadioButtonContents;
    }
    return b->style()->subElementRect(area, &option, b);
}

// Where a widget's text is, in its own coordinates; empty for widgets without text.
QRect TextBox(const QWidget* w) {
    const QFontMetrics fm(w->font());
    if (const auto* l = qobject_cast<const QLabel*>(w)) {
        if (l->text().isEmpty() || l->textFormat() == Qt::RichText) {
            return {};
        }
        const int flags = static_cast<int>(l->alignment()) | (l->wordWrap() ? Qt::TextWordWrap : 0);
        return fm.boundingRect(l->contentsRect(), flags, l->text());
    }
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
        if (b->text().isEmpty()) {
            return {};
        }
        const bool push = qobject_cast<const QPushButton*>(b) != nullptr;
        return fm.boundingRect(CaptionArea(b),
                               (push ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter) |
                                   Qt::TextShowMnemonic,
                               b->text());
    }
    return {};
}

// A text is cut when it needs more room than its widget gives it.
bool TextCut(const QWidget* w) {
    const QRect box = TextBox(w);
    if (box.isEmpty()) {
        return false;
    }
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
        return box.width() > CaptionArea(b).width() || !b->rect().contains(box);
    }
    return !w->rect().contains(box);
}

bool Ancestor(const QWidget* a, const QWidget* b) {
    for (const QWidget* p = b->parentWidget(); p != nullptr; p = p->parentWidget()) {
        if (p == a) {
            return true;
        }
    }
    return false;
}

// Every text the player can see in the window is whole, and no two lie on each other.
void CheckTexts(QWidget* window) {
    std::vector<std::pair<QWidget*, QRect>> boxes;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != window || w->visibleRegion().isEmpty()) {
            continue;
        }
        const QRect box = TextBox(w);
        if (box.isEmpty()) {
            continue;
        }
        EXPECT_FALSE(TextCut(w)) << Describe(w).toStdString() << " is cut";
        const QRect seen = (w->visibleRegion() & box).boundingRect();
        if (!seen.isEmpty()) {
            boxes.emplace_back(w, QRect(w->mapTo(window, seen.topLeft()), seen.size()));
        }
    }
    for (size_t i = 0; i < boxes.size(); ++i) {
        for (size_t j = i + 1; j < boxes.size(); ++j) {
            QWidget* a = boxes[i].first;
            QWidget* b = boxes[j].first;
            if (Ancestor(a, b) || Ancestor(b, a)) {
                continue;
            }
            EXPECT_FALSE(boxes[i].second.intersects(boxes[j].second))
                << Describe(a).toStdString() << " overlaps " << Describe(b).toStdString();
        }
    }
}

// In the middle of its screen, and all of it on the screen. A window manager frames a window
// after it is shown: the window is given a moment to be placed again.
bool Placed(const QWidget* window) {
    const QRect screen = window->screen()->availableGeometry();
    return screen.contains(window->frameGeometry()) &&
           (window->frameGeometry().center() - screen.center()).manhattanLength() <= 2;
}

void CheckPlaced(const QWidget* window) {
    if (!QTest::qWaitFor([&] { return Placed(window); }, 2000)) {
        const QRect frame = window->frameGeometry();
        ADD_FAILURE() << Describe(window).toStdString()
                      << " is not in the middle of the screen: " << frame.x() << "," << frame.y()
                      << " " << frame.width() << "x" << frame.height() << " on "
                      << window->screen()->availableGeometry().width() << "x"
                      << window->screen()->availableGeometry().height();
    }
}

struct LayoutTest : test::TWindowFixture {
    std::unique_ptr<TMainWindow> Win;

    void SetUp() override {
        TWindowFixture::SetUp();
        platform_.CreateHost = [] { return std::make_unique<TNullHost>(48000.0, 128, true); };
        // The notices are shown as the player sees them, photographed and closed.
        onModal_ = [this](QDialog& d) {
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            CheckPlaced(&d);
            CheckTexts(&d);
            Screenshot(d.objectName());
            d.hide();
        };
    }
    void TearDown() override { Win.reset(); }

    void Start() {
        Win = std::make_unique<TMainWindow>(platform_);
        Win->ShowOnScreen(); // as the program shows it
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Win.get()));
    }

    void Play37Bars() {
        OpenScale37(*Win);
        ASSERT_EQ(Find<TToneZone>(*Win, "ToneZone")->ToneRatios().size(), 37u);
        Find<QWidget>(*Win, "ParametersPanel")->show();
        Find<QWidget>(*Win, "ScaleContentsPanel")->show();
    }

    void ResizeTo(QSize size) {
        Win->resize(size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Win->size() == size; }, 5000))
            << "asked " << size.width() << "x" << size.height() << ", got " << Win->width() << "x"
            << Win->height();
        QTest::qWait(100); // the layouts settle and paint
    }

    // What every size must show.
    void CheckWhatThePlayerSees(const QString& name) {
        const QRect screen = Win->screen()->availableGeometry();
        EXPECT_TRUE(screen.contains(Win->frameGeometry()))
            << "the window leaves the screen at " << name.toStdString();

        for (const char* control : {"ApplyParametersBtn", "ResonanceFader", "MasterFader"}) {
            const QWidget* w = Find<QWidget>(*Win, control);
            EXPECT_TRUE(WhollySeen(w)) << Describe(w).toStdString() << " is not wholly visible";
        }
        // Faders long enough to play with.
        for (QSlider* fader :
             {Find<QSlider>(*Win, "ResonanceFader"), Find<QSlider>(*Win, "MasterFader")}) {
            EXPECT_GE(fader->height(), 90) << Describe(fader).toStdString() << " is too short";
        }

        CheckTexts(Win.get());

        // The bars' labels as painted at this size.
        const std::vector<TFrequencyLabel> labels = FrequencyLabels(
            Find<TToneZone>(*Win, "ToneZone")->Geometry(),
            Find<TToneZone>(*Win, "ToneZone")->ToneRatios(),
            Win->Instrument.Bank().InitialFrequency(),
            Win->Instrument.Settings().Stored().ColoredToneZone, FrequencyLabelFont());
        EXPECT_GE(labels.size(), 2u);
        for (size_t i = 0; i + 1 < labels.size(); ++i) {
            EXPECT_FALSE(labels[i].Box.intersects(labels[i + 1].Box))
                << "the labels of bars " << labels[i].Tone << " and " << labels[i + 1].Tone;
        }

        // The meters and the toolbar's buttons.
        const QRect meters = SeenRect(Find<QProgressBar>(*Win, "LeftMeter")->parentWidget());
        for (TImageButton* b : Find<QWidget>(*Win, "ToolbarPanel")->findChildren<TImageButton*>()) {
            if (b->isVisible()) {
                EXPECT_FALSE(SeenRect(b).intersects(meters))
                    << Describe(b).toStdString() << " lies under the meters";
            }
        }

        // The status panels hold their whole text; at the smallest size the scale's and the
        // object's names may end in "..." (their tips show them whole), the states never.
        const QFontMetrics fm(Find<TStatusPanels>(*Win, "StatusBar")->font());
        const bool smallest = name == QStringLiteral("minimum");
        for (int panel : smallest ? std::vector<int>{0, 4, 5} : std::vector<int>{0, 2, 3, 4, 5}) {
            const QString text = Win->StatusText(panel);
            EXPECT_LE(fm.horizontalAdvance(text),
                      Find<TStatusPanels>(*Win, "StatusBar")->TextRect(panel).width())
                << "status panel " << panel << " cuts \"" << text.toStdString() << "\" beside \""
                << Win->StatusText(4).toStdString() << "\" and \""
                << Win->StatusText(5).toStdString() << "\"";
        }
    }
};

} // namespace

TEST_F(LayoutTest, MinimumAndLargeWindow) {
    Start(); // the no-tablet notice is checked as it shows
    const QRect screen = Win->screen()->availableGeometry();
    CheckPlaced(Win.get());
    Play37Bars();

    // On a dense screen the toolbar's pictures have pixels of their own, not doubled ones.
    const qreal ratio = Win->devicePixelRatio();
    if (ratio >= 2.0) {
        QTest::qWait(100); // the status bar catches up with the rebuild
        const QImage shot = Screenshot(QStringLiteral("window-opened"));
        const QPoint at = Find<TImageButton>(*Win, "OpenScaleBtn")->mapToGlobal(QPoint(10, 10)) -
                          screen.topLeft();
        const QImage button = shot.copy(QRect(at * ratio, QSize(30, 30) * ratio));
        int blocks = 0;
        int doubled = 0;
        for (int y = 0; y + 1 < button.height(); y += 2) {
            for (int x = 0; x + 1 < button.width(); x += 2) {
                const QRgb p = button.pixel(x, y);
                ++blocks;
                doubled += p == button.pixel(x + 1, y) && p == button.pixel(x, y + 1) &&
                                   p == button.pixel(x + 1, y + 1)
                               ? 1
                               : 0;
            }
        }
        EXPECT_LT(doubled, blocks / 3) << "the toolbar's pictures are pixel-doubled";
    }

    // The pressure display appears while the bar is held.
    const QPoint bar(Find<TToneZone>(*Win, "ToneZone")->width() / 2,
                     Find<TToneZone>(*Win, "ToneZone")->height() / 2);
    QTest::mouseMove(Find<TToneZone>(*Win, "ToneZone"), bar);
    QTest::qWait(50);
    const QRect pressurePanel(
        Find<TStatusPanels>(*Win, "StatusBar")
            ->mapToGlobal(Find<TStatusPanels>(*Win, "StatusBar")->PanelRect(1).topLeft()),
        Find<TStatusPanels>(*Win, "StatusBar")->PanelRect(1).size());
    const qreal dpr = Win->devicePixelRatio();
    auto panelPixels = [&] {
        const QImage shot = Win->screen()->grabWindow(0).toImage();
        return shot.copy(
            QRect((pressurePanel.topLeft() - screen.topLeft()) * dpr, pressurePanel.size() * dpr));
    };
    const QImage released = panelPixels();
    QTest::mousePress(Find<TToneZone>(*Win, "ToneZone"), Qt::LeftButton, {}, bar);
    QTest::qWait(100);
    const QImage held = panelPixels();
    EXPECT_NE(held, released) << "the pressure display stays empty while the bar is held";

    ResizeTo(Win->minimumSize());
    CheckWhatThePlayerSees(QStringLiteral("minimum"));
    Screenshot(QStringLiteral("window-minimum"));

    ResizeTo(screen.size());
    Win->move(screen.topLeft());
    QTest::qWait(100);
    CheckWhatThePlayerSees(QStringLiteral("large"));
    Screenshot(QStringLiteral("window-large"));
    QTest::mouseRelease(Find<TToneZone>(*Win, "ToneZone"), Qt::LeftButton, {}, bar);
}

// The bars light up as they sound and the held one is framed; the labels say hertz, cents,
// ratios or degrees, whole and apart at every scale.
TEST_F(LayoutTest, LitBarsAndLabelKinds) {
    Start();
    Play37Bars();
    Find<QWidget>(*Win, "ParametersPanel")->hide();
    Find<QWidget>(*Win, "ScaleContentsPanel")->hide();
    QTest::qWait(100); // the zone takes the panels' room
    TToneZone* zone = Find<TToneZone>(*Win, "ToneZone");
    const TBarRect rect = zone->Geometry().BarRect(20);
    const QPoint bar(rect.Left + rect.Width() / 2, rect.Top + rect.Height() / 2);
    // A pen rolling on bar 20 while the meters read (the scripted pen varko-render plays).
    const TToneZoneGeometry geometry = zone->Geometry();
    const float fx = (static_cast<float>(bar.x()) + 0.5f) / static_cast<float>(zone->width());
    for (int i = 0; i < 40; ++i) {
        Win->Playing().Pen(geometry, geometry.BarWidthReciprocal(), fx, i % 2 ? 0.3f : 0.7f, 0.8f,
                           true);
        QTest::qWait(20);
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const TToneZoneLook& look = zone->Look();
            return look.Light.size() > 20 && look.Light[20] > 0.2f && look.Held.size() > 20 &&
                   look.Held[20];
        },
        3000))
        << "the rolled bar does not light up: light "
        << (zone->Look().Light.size() > 20 ? zone->Look().Light[20] : -1.0f) << ", held "
        << (zone->Look().Held.size() > 20 && zone->Look().Held[20]) << ", bar "
        << Win->Playing().CurrentBar << ", timer " << Find<QTimer>(*Win, "LevelTimer")->isActive()
        << " switches " << Win->Instrument.Audio().Engine().SwitchCount.load() << " pressure "
        << Win->Instrument.Audio().Engine().Oscillators[20]->Pressure.load() << " speed "
        << Win->Instrument.Audio().Engine().Oscillators[20]->Speed.load() << " level "
        << Win->Instrument.Audio().TakeToneLevels()[20] << " running "
        << Win->Instrument.Audio().Running();
    Screenshot(QStringLiteral("bars-lit"));
    Win->Playing().Pen(geometry, geometry.BarWidthReciprocal(), fx, 0.3f, 0.0f, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !zone->Look().Held[20]; }, 2000));

    const char* names[] = {"labels-hz", "labels-cents", "labels-ratio", "labels-degree"};
    for (int kind = 0; kind < 4; ++kind) {
        // As the player chooses it on the Display tab.
        Find<TSettingsDialog>(*Win, "SettingsDialog")->LabelKindCombo->setCurrentIndex(kind);
        emit Find<TSettingsDialog>(*Win, "SettingsDialog")->LabelKindCombo->activated(kind);
        QTest::qWait(50);
        const TToneZoneLook& look = zone->Look();
        const std::vector<TFrequencyLabel> labels =
            FrequencyLabels(zone->Geometry(), zone->ToneRatios(),
                            Win->Instrument.Bank().InitialFrequency(), look.ColoredToneZone,
                            FrequencyLabelFont(), look.LabelKind, look.ScaleStart, look.Period);
        ASSERT_GE(labels.size(), 2u) << names[kind];
        for (size_t i = 0; i + 1 < labels.size(); ++i) {
            EXPECT_FALSE(labels[i].Box.intersects(labels[i + 1].Box)) << names[kind];
        }
        if (kind == 3) {
            // The lowest bar (100 Hz): the 1/1 a period down.
            EXPECT_EQ(labels[0].Text, QString("0") + QChar(0x2193));
        }
        Screenshot(QString::fromLatin1(names[kind]));
    }
}

TEST_F(LayoutTest, AboutBox) {
    TAboutBox about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    CheckPlaced(&about);
    CheckTexts(&about);
    Screenshot(QStringLiteral("about"));
}

// The dialogs the player opens from the window: the settings, page by page, the notice of a
// stop (F6) and the guide without a web browser (F1).
TEST_F(LayoutTest, SettingsNoticesAndGuide) {
    Start();
    TSettingsDialog& settings = *Find<TSettingsDialog>(*Win, "SettingsDialog");
    settings.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&settings));
    EXPECT_TRUE(settings.screen()->availableGeometry().contains(settings.frameGeometry()));
    for (int tab = 0; tab < settings.Tabs->count(); ++tab) {
        settings.Tabs->setCurrentIndex(tab);
        QTest::qWait(50);
        CheckTexts(&settings);
        Screenshot(QStringLiteral("settings-") + settings.Tabs->tabText(tab).toLower());
    }
    settings.hide();

    Win->StopAudio(); // the notice is checked as it shows
    Win->Platform.OpenUrl = [](const QUrl&) { return false; };
    Win->HelpMenuItemClick();
    TUserGuideWindow* guide = Win->UserGuideWindow();
    ASSERT_NE(guide, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(guide));
    CheckPlaced(guide);
    Screenshot(QStringLiteral("user-guide"));
}

int main(int argc, char** argv) {
    TVarkoApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Run under a window manager that frames the window (openbox): F11 makes the window cover the
// screen without a border, and F11 again gives back the bordered window where it was, not a
// title bar lower.
TEST_F(LayoutTest, FullScreenTwiceUnderAWindowManager) {
    Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Win->frameGeometry() != Win->geometry(); }, 5000))
        << "no window manager framed the window";
    CheckPlaced(Win.get());
    QTest::qWait(200); // the centring's last looks at the framed window (every 20 ms)
    // Somewhere else than the middle, where a window given back by re-centring would not be.
    ResizeTo(Win->minimumSize());
    const QPoint place = Win->screen()->availableGeometry().topLeft() + QPoint(10, 0);
    Win->move(place);
    (void)QTest::qWaitFor([&] { return Win->frameGeometry().topLeft() == place; }, 5000);
    QTest::qWait(300);
    ASSERT_EQ(Win->frameGeometry().topLeft(), place) << "the window was not left where it was put";
    // Where the window's inside is: Qt may know the frame's changes late, the inside never.
    const QRect inside = Win->geometry();
    const QRect screen = Win->screen()->geometry();

    for (int round = 0; round < 2; ++round) {
        QTest::keyClick(Win.get(), Qt::Key_F11);
        // All of the screen, so no border can be seen.
        EXPECT_TRUE(QTest::qWaitFor([&] { return Win->geometry() == screen; }, 5000))
            << "full screen is " << Win->width() << "x" << Win->height() << " at " << Win->x()
            << "," << Win->y();
        if (round == 0) {
            Screenshot(QStringLiteral("window-full-screen"));
        }
        QTest::keyClick(Win.get(), Qt::Key_F11);
        (void)QTest::qWaitFor([&] { return Win->geometry() == inside; }, 5000);
        QTest::qWait(300); // late moves by the window manager would show now
        EXPECT_EQ(Win->geometry(), inside)
            << "round " << round << ": the window came back at " << Win->x() << "," << Win->y()
            << " instead of " << inside.x() << "," << inside.y();
    }
    Screenshot(QStringLiteral("window-after-full-screen"));
}

// At scale 2 a 1366x768 screen leaves 683x384 points: the title bar was off the screen. The
// window, its frame and all, fits the screen as it opens and at its smallest.
TEST_F(LayoutTest, SmallScreenUnderAWindowManager) {
    Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Win->frameGeometry() != Win->geometry(); }, 5000))
        << "no window manager framed the window";
    CheckPlaced(Win.get());
    Play37Bars();
    QTest::qWait(100);
    Screenshot(QStringLiteral("window-small-screen"));
    const QRect area = Win->screen()->availableGeometry();
    const QSize margins = Win->frameGeometry().size() - Win->size();
    std::printf("window %dx%d, frame %dx%d at %d,%d, on %dx%d\n", Win->width(), Win->height(),
                Win->frameGeometry().width(), Win->frameGeometry().height(),
                Win->frameGeometry().x(), Win->frameGeometry().y(), area.width(), area.height());
    const QSize smallest = Win->minimumSize() + margins;
    EXPECT_LE(smallest.width(), area.width()) << "margins " << margins.width();
    EXPECT_LE(smallest.height(), area.height()) << "margins " << margins.height();
    ResizeTo(Win->minimumSize());
    Win->move(area.topLeft());
    EXPECT_TRUE(QTest::qWaitFor([&] { return area.contains(Win->frameGeometry()); }, 5000))
        << "at its smallest the window is " << Win->frameGeometry().width() << "x"
        << Win->frameGeometry().height() << " on " << area.width() << "x" << area.height();
    for (QWidget* w : {static_cast<QWidget*>(Find<QPushButton>(*Win, "ApplyParametersBtn")),
                       static_cast<QWidget*>(Find<QSlider>(*Win, "MasterFader"))}) {
        EXPECT_TRUE(WhollySeen(w)) << Describe(w).toStdString() << " is not wholly visible";
    }
}
