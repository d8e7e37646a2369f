// What every main-window test starts from: a settings folder of its own, the desktop hooks the
// window is handed (modal windows recorded and answered, halts recorded), a twelve-tone scale,
// and the window's controls found by name.
#pragma once

#include "ui/MainWindow.h"
#include "ui/dialogs/AudioStoppedNotice.h"
#include "ui/dialogs/CrashWindow.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace varko::test {

// The window's control (or timer, or dialog) with that object name. A missing one ends the
// test at once, with the name, rather than crashing it later on a null.
template <typename T> T* Find(const QObject& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        ADD_FAILURE() << "the window has no " << T::staticMetaObject.className() << " named "
                      << name;
        throw std::logic_error(std::string("no window control ") + name);
    }
    return found;
}

// Twelve equal tones, as a scale file at path; returns the path.
inline std::string WriteTwelveEqualTones(const std::string& path) {
    std::ofstream f(path);
    f << "! et12.scl\n12-tone equal temperament\n12\n";
    for (int i = 1; i <= 12; ++i) {
        f << i * 100 << ".0\n";
    }
    return path;
}

// Playing values reach the engine at its next block: waits for it.
inline void Settle(TMainWindow& win) {
    for (int i = 0; i < 2000 && win.Instrument.Audio().Engine().ChangesPending(); ++i) {
        QTest::qWait(1);
    }
    EXPECT_FALSE(win.Instrument.Audio().Engine().ChangesPending())
        << "the engine did not take the change";
}

// A modal window as the window showed it.
struct TShown {
    std::string Class;
    QString Text;
    QString Folder; // where a file dialog starts
};

class TWindowFixture : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("XDG_CONFIG_HOME", dir_.filePath("config").toUtf8());
        platform_.ExecModal = [this](QDialog& d) { return Modal(d); };
        platform_.Halt = [this](int code) { halts_.push_back(code); };
    }

    std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }

    // A Varko.ini with text before the window starts; returns its path.
    std::string UseSettings(const std::string& text) const {
        QDir().mkpath(dir_.filePath("config/Varko"));
        const std::string ini = Path("config/Varko/Varko.ini");
        std::ofstream(ini) << text;
        return ini;
    }

    // The test's own et12.scl; with one repeat down and up, 37 tones.
    std::string TwelveEqualTones() const { return WriteTwelveEqualTones(Path("et12.scl")); }

    // A window handed the hooks, shown (at size, where one is given) and on the screen.
    std::unique_ptr<TMainWindow> ShowWindow(QSize size = {}) {
        auto win = std::make_unique<TMainWindow>(platform_);
        if (size.isValid()) {
            win->resize(size);
        }
        win->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(win.get()));
        return win;
    }
    static constexpr QSize PlayingSize{700, 49 + 500 + 19}; // a tone zone 500 pixels high

    // Opens the twelve-tone scale through the Open Scale button, one repeat down and up.
    void OpenScale37(TMainWindow& win) {
        Find<QLineEdit>(win, "RepeatDownEdit")->setText("1");
        Find<QLineEdit>(win, "RepeatUpEdit")->setText("1");
        fileToChoose_ = QString::fromStdString(TwelveEqualTones());
        win.OpenScaleBtnClick();
        QCoreApplication::processEvents();
    }

    bool Saw(const std::string& cls, const QString& text = {}) const {
        return Count(cls, text) > 0;
    }
    int Count(const std::string& cls, const QString& text = {}) const {
        int n = 0;
        for (const TShown& s : shown_) {
            n += s.Class == cls && (text.isEmpty() || s.Text == text);
        }
        return n;
    }
    // The texts of the message boxes shown, in order.
    std::vector<QString> Told() const {
        std::vector<QString> texts;
        for (const TShown& s : shown_) {
            if (s.Class == "QMessageBox") {
                texts.push_back(s.Text);
            }
        }
        return texts;
    }

    QTemporaryDir dir_;
    std::vector<TShown> shown_;
    std::vector<int> halts_;
    QString fileToChoose_; // what the file dialogs answer; empty: cancel
    // What a test does with a modal window other than a file dialog before it closes.
    std::function<void(QDialog&)> onModal_;
    TWindowPlatform platform_ = TWindowPlatform::Desktop(); // what each window is handed

private:
    int Modal(QDialog& d) {
        TShown s{d.metaObject()->className(), {}, {}};
        if (auto* fd = qobject_cast<QFileDialog*>(&d)) {
            s.Text = fd->windowTitle();
            s.Folder = fd->directory().absolutePath();
            shown_.push_back(s);
            if (fileToChoose_.isEmpty()) {
                return int(QDialog::Rejected);
            }
            fd->selectFile(fileToChoose_);
            return int(QDialog::Accepted);
        }
        if (auto* box = qobject_cast<QMessageBox*>(&d)) {
            s.Text = box->text();
        } else if (auto* warn = qobject_cast<TAudioStoppedNotice*>(&d)) {
            s.Text = warn->Headline->text();
        } else if (auto* crash = qobject_cast<TCrashWindow*>(&d)) {
            s.Text = crash->ErrorText();
        }
        if (onModal_) {
            onModal_(d);
        }
        shown_.push_back(s);
        return int(QMessageBox::Ok);
    }
};

} // namespace varko::test
