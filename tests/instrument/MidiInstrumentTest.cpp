// MIDI through the whole instrument: notes find the scale's 1/1 however the scale is repeated,
// the pen and MIDI share the tones, and a MIDI thread plays on while the bank is rebuilt
// (run under ThreadSanitizer and AddressSanitizer by the test command).
#include "instrument/Instrument.h"

#include "engine/NullHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

struct MidiInstrument : ::testing::Test {
    fs::path Scale =
        fs::temp_directory_path() / ("varko-midi-" + std::to_string(::getpid()) + ".scl");
    TInstrument In;
    void SetUp() override {
        std::ofstream(Scale) << "Five\n 4\n240.0\n480.0\n720.0\n2/1\n";
        In.AttachHost(std::make_unique<TNullHost>(48000.0, 128, true));
        In.Audio().SelectDriver(0);
    }
    void TearDown() override { fs::remove(Scale); }
    void Note(int note, int velocity, int channel = 0) {
        const uint8_t m[] = {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(note),
                             static_cast<uint8_t>(velocity)};
        In.Midi().Message(0, m, 3, 0.0);
    }
    // Playing values reach the oscillators at the engine's next block.
    float Pressure(size_t tone) {
        for (int i = 0; i < 2000 && In.Audio().Engine().ChangesPending(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return In.Audio().Engine().Oscillators.at(tone)->Pressure.load();
    }
};

} // namespace

TEST_F(MidiInstrument, TheReferenceNoteFindsTheScalesFirstDegreeInEveryRepeat) {
    In.Bank().SetRepeatDownCount(2);
    In.OpenScale(Scale.string()); // two lower copies of 4 tones, then the scale's 5
    EXPECT_EQ(In.Bank().ScaleStart(), 8);
    ASSERT_EQ(In.Bank().Tones().at(8), 1.0f);
    Note(60, 127);
    EXPECT_EQ(Pressure(8), 1.0f);
    Note(52, 127); // 8 steps down: the lowest tone, 1/4
    EXPECT_EQ(Pressure(0), 1.0f);
    EXPECT_EQ(In.Bank().Tones()[0], 0.25f);
    In.Bank().SetRepeatEnds(true); // each copy keeps its 2/1: 5 tones a copy
    In.Apply();
    EXPECT_EQ(In.Bank().ScaleStart(), 10);
    EXPECT_EQ(In.Bank().Tones().at(10), 1.0f);
    EXPECT_EQ(In.Midi().HeldNotes(), 2); // the held keys carry into the new bank
    Note(60, 127);
    EXPECT_EQ(Pressure(10), 1.0f);
    Note(73, 127); // beyond the last tone
    EXPECT_EQ(In.Midi().HeldNotes(), 2);
}

TEST_F(MidiInstrument, ThePenLeavesAKeysTonePressedAndPlaysTheOthers) {
    In.OpenScale(Scale.string());
    In.Settings().SetMousePressure(true);
    TPlaying& pen = In.Playing();
    const TToneZoneGeometry zone(5, 500, 100, false);
    pen.ToneZoneMouseMove(zone, zone.BarWidthReciprocal(), 10, 50, 10, 50); // bar 0
    pen.PointerDown(TMouseButton::mbLeft);
    EXPECT_EQ(Pressure(0), 0.5f);
    Note(60, 127); // the key holds tone 0 now
    EXPECT_EQ(Pressure(0), 1.0f);
    pen.ToneZoneMouseMove(zone, zone.BarWidthReciprocal(), 150, 50, 150, 50); // on to bar 1
    EXPECT_EQ(Pressure(0), 1.0f); // the key's, not cleared by the pen leaving
    pen.PointerUp(TMouseButton::mbLeft);
    pen.PointerDown(TMouseButton::mbLeft);
    EXPECT_EQ(Pressure(1), 0.5f);
    Note(60, 0);
    EXPECT_EQ(Pressure(0), 0.0f);
}

TEST_F(MidiInstrument, AMidiThreadPlaysOnWhileTheBankIsRebuilt) {
    In.OpenScale(Scale.string());
    In.Audio().StartAudio();
    std::atomic<bool> done{false};
    std::atomic<int> messages{0};
    std::thread player([&] {
        for (int i = 0; !done.load(); ++i) {
            const uint8_t note = static_cast<uint8_t>(58 + i % 8);
            const uint8_t on[] = {0x91, note, 100}, touch[] = {0xD1, static_cast<uint8_t>(i % 128)},
                          slide[] = {0xB1, 74, static_cast<uint8_t>(i % 128)},
                          off[] = {0x81, note, 0};
            const double t = i * 0.001;
            In.Midi().Message(0, on, 3, t);
            In.Midi().Message(0, touch, 2, t);
            In.Midi().Message(0, slide, 3, t);
            In.Midi().Tick(t);
            In.Midi().Message(0, off, 3, t);
            messages += 4;
        }
    });
    for (int rebuild = 0; rebuild < 12; ++rebuild) {
        In.Bank().SetRepeatUpCount(rebuild % 3);
        In.Apply(); // ends every oscillator and makes new ones
    }
    done = true;
    player.join();
    EXPECT_GT(messages.load(), 0);
    EXPECT_EQ(In.Midi().HeldNotes(), 0);
    In.ReleaseEngine();
    Note(60, 127); // no engine: no tones, nothing touched
    EXPECT_EQ(In.Midi().HeldNotes(), 0);
}
