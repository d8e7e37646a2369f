// MIDI playing against tones that remember what was written: which note plays which tone,
// what a strike, a finger's pressure, slide and bend and the wheel do, and that no message,
// however broken, leaves a tone pressed.
#include "instrument/MidiPlaying.h"

#include "FakeTones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

using namespace varko;

namespace {

using test::FakeTones;

struct Midi : ::testing::Test {
    FakeTones Tones{37}; // 12 equal steps repeated an octave down and up: the 1/1 is tone 12
    TMidiPlaying Player{Tones};
    double Now = 0.0;
    void SetUp() override {
        Player.ReplaceBank(12, [] {});
    }
    void Send(std::vector<uint8_t> m, int source = 0) {
        Player.Message(source, m.data(), m.size(), Now);
    }
    void On(int note, int velocity = 127, int channel = 0) {
        Send({static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(note),
              static_cast<uint8_t>(velocity)});
    }
    void Off(int note, int channel = 0) {
        Send({static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(note), 64});
    }
    // Ticks every 5 ms for the given time, as the input thread does.
    void Pass(double seconds) {
        const double end = Now + seconds;
        while (Now + 1e-9 < end) {
            Now += TMidiPlaying::TickSeconds;
            Player.Tick(Now);
        }
    }
};

} // namespace

TEST_F(Midi, NotesCountStepsFromTheReferenceNoteAlongTheToneList) {
    On(60);
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 1.0f); // the scale's 1/1
    On(61, 64);
    EXPECT_FLOAT_EQ(Tones.Pressure[13], 64.0f / 127.0f);
    On(48);
    EXPECT_GT(Tones.Pressure[0], 0.0f); // the lowest tone
    On(84);
    EXPECT_GT(Tones.Pressure[36], 0.0f); // the highest
    EXPECT_EQ(Player.HeldNotes(), 4);
    // Outside the list: no tone, and nothing held that could stick.
    On(47);
    On(85);
    EXPECT_EQ(Player.HeldNotes(), 4);
    Player.SetReferenceNote(72);
    On(72, 100, 1);
    EXPECT_EQ(Player.HeldNotes(), 5);
    On(59, 100, 1); // tone -1 now
    EXPECT_EQ(Player.HeldNotes(), 5);
}

TEST_F(Midi, AKeyStrikesWithABurstThatDiesWithin30Milliseconds) {
    On(60, 100);
    EXPECT_FLOAT_EQ(Tones.Speed[12], TMidiPlaying::StrikeSpeed);
    EXPECT_FLOAT_EQ(Tones.Strike[12], 0.5f); // no slide yet: the middle of the bar
    float last = Tones.Speed[12];
    for (int i = 0; i < 5; ++i) {
        Pass(0.005);
        EXPECT_LT(Tones.Speed[12], last); // falling
        EXPECT_GT(Tones.Speed[12], 0.0f);
        last = Tones.Speed[12];
    }
    Pass(0.005);
    EXPECT_EQ(Tones.Speed[12], 0.0f); // 30 ms: the bar rings free while the key is held
    EXPECT_EQ(Tones.Pressure[12], 0.0f);
    EXPECT_LT(Player.Tick(Now + 0.005), 0.0); // nothing moves: no more ticks wanted
    // The same key again strikes again, even at the speed it had.
    On(60, 100);
    EXPECT_FLOAT_EQ(Tones.Speed[12], TMidiPlaying::StrikeSpeed);
    Send({0x90, 60, 100});
    EXPECT_NE(Tones.Speed[12], TMidiPlaying::StrikeSpeed); // written anew, one step smaller
    EXPECT_GT(Tones.Speed[12], 0.49f);
}

TEST_F(Midi, ReleaseAndVelocityZeroLetTheToneRingOut) {
    On(60);
    On(62);
    Off(60);
    EXPECT_EQ(Tones.Pressure[12], 0.0f);
    Send({0x90, 62, 0});
    EXPECT_EQ(Tones.Pressure[14], 0.0f);
    EXPECT_EQ(Player.HeldNotes(), 0);
    Off(70); // never struck: nothing happens
    EXPECT_EQ(Player.HeldNotes(), 0);
}

TEST_F(Midi, ReleasedKeysDampWhenAskedUnlessThePedalIsDown) {
    Player.SetReleaseDamps(true);
    On(60);
    Pass(0.035);
    Off(60);
    EXPECT_EQ(Tones.Pressure[12], TMidiPlaying::DampPressure);
    EXPECT_EQ(Tones.Speed[12], 0.0f);
    On(60, 100); // struck again through the damper
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 100.0f / 127.0f);
    EXPECT_GT(Tones.Speed[12], 0.0f);

    Send({0xB0, 64, 127}); // pedal down: released bars ring on
    Off(60);
    On(62);
    Off(62);
    EXPECT_EQ(Tones.Pressure[12], 0.0f);
    EXPECT_EQ(Tones.Pressure[14], 0.0f);
    On(64); // still held when the pedal lifts: not damped
    Send({0xB0, 64, 0});
    EXPECT_EQ(Tones.Pressure[12], TMidiPlaying::DampPressure);
    EXPECT_EQ(Tones.Pressure[14], TMidiPlaying::DampPressure);
    EXPECT_FLOAT_EQ(Tones.Pressure[16], 1.0f);

    // Rings on (the default): the pedal changes nothing.
    Player.SetReleaseDamps(false);
    Off(64);
    EXPECT_EQ(Tones.Pressure[16], 0.0f);
    // A damped bar is the pen's to play.
    Player.PenTones().SetPressure(12, 0.25f);
    EXPECT_EQ(Tones.Pressure[12], 0.25f);
}

// A rebuild forgot the held keys: their bars fell silent and their note-offs did nothing.
TEST_F(Midi, HeldKeysStrikeTheirBarsAgainInANewBank) {
    int struck = 0;
    Player.OnStruck = [&] { ++struck; };
    On(60, 100);
    On(62, 90);
    Off(62);
    Pass(0.035);
    Tones = FakeTones(37); // the new bank's tones start at rest
    Player.ReplaceBank(12, [] {});
    EXPECT_EQ(struck, 1);
    EXPECT_EQ(Player.HeldNotes(), 1);
    EXPECT_FLOAT_EQ(Tones.Speed[12], TMidiPlaying::StrikeSpeed);
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 100.0f / 127.0f);
    EXPECT_EQ(Tones.Speed[14], 0.0f); // released before: stays at rest
    Pass(0.035);
    EXPECT_EQ(Tones.Speed[12], 0.0f); // the strike ends as a key's does
    Off(60);
    EXPECT_EQ(Player.HeldNotes(), 0);
    // A bank where the key has no bar forgets it.
    On(84);
    Player.ReplaceBank(20, [] {});
    EXPECT_EQ(Player.HeldNotes(), 0);
    EXPECT_EQ(struck, 1);
}

TEST_F(Midi, FingerPressureFollowsOnceTheStrikeIsOver) {
    On(60, 100, 1);
    // Controllers send a light first pressure right after the note-on: it must not cut the
    // strike short.
    Send({0xD1, 10});
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 100.0f / 127.0f);
    Pass(0.035);
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 10.0f / 127.0f);
    Send({0xD1, 90});
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 90.0f / 127.0f);
    // Pressing harder moves the finger: the bar is bowed at the next tick.
    EXPECT_GT(Player.Tick(Now), 0.0);
    EXPECT_NEAR(Tones.Speed[12], 80.0f / 127.0f, 1e-6);
    Pass(0.005);
    EXPECT_EQ(Tones.Speed[12], 0.0f); // resting again
    // Polyphonic aftertouch presses one note.
    On(64, 100, 1);
    Pass(0.035);
    Send({0xA1, 64, 20});
    EXPECT_FLOAT_EQ(Tones.Pressure[16], 20.0f / 127.0f);
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 90.0f / 127.0f);
}

TEST_F(Midi, MpeMemberChannelsAreTheirOwnFingersAndChannelOneReachesAll) {
    On(60, 100, 1);
    On(64, 100, 2);
    Pass(0.035);
    Send({0xD1, 30});
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 30.0f / 127.0f);
    EXPECT_EQ(Tones.Pressure[16], 0.0f); // the other finger rests without pressure
    Send({0xB2, 74, 127});
    EXPECT_FLOAT_EQ(Tones.Strike[16], 1.0f);
    EXPECT_FLOAT_EQ(Tones.Strike[12], 0.5f);
    Send({0xD0, 50}); // the manager channel
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 50.0f / 127.0f);
    EXPECT_FLOAT_EQ(Tones.Pressure[16], 50.0f / 127.0f);
    // Plain MIDI: channel 1 is a channel like the others.
    Player.SetMpe(false);
    Send({0xD0, 70});
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 50.0f / 127.0f);
    Send({0xB0, 123, 0});
    EXPECT_EQ(Player.HeldNotes(), 2);
    Player.SetMpe(true);
    Send({0xB0, 123, 0}); // all notes off, zone-wide
    EXPECT_EQ(Player.HeldNotes(), 0);
}

TEST_F(Midi, SlideSetsThePositionAndSlideOrBendMovementBows) {
    Send({0xB3, 74, 0}); // the finger lands at the top of the key
    On(60, 100, 3);
    EXPECT_EQ(Tones.Strike[12], 0.0f);
    Pass(0.035);
    Send({0xB3, 74, 32});
    EXPECT_FLOAT_EQ(Tones.Strike[12], 32.0f / 127.0f);
    Player.Tick(Now);
    EXPECT_NEAR(Tones.Speed[12], 32.0f / 127.0f, 1e-6);
    Pass(0.005);
    Player.SetBendPitch(false); // bend bows the bar, as it did before it moved the pitch
    Send({0xE3, 0x00, 0x41});   // bend up by 128 of 8192
    Player.Tick(Now);
    EXPECT_NEAR(Tones.Speed[12], 128.0f / 8192.0f * TMidiPlaying::BendMovement, 1e-6);
    EXPECT_EQ(Tones.Pitch[12], 1.0f);
}

TEST_F(Midi, TheWheelBowsEveryHeldToneForAsLongAsItIsUp) {
    On(60);
    On(67);
    Pass(0.035);
    Send({0xB0, 1, 127});
    std::vector<float> seen;
    for (int i = 0; i < 40; ++i) {
        EXPECT_GT(Player.Tick(Now += TMidiPlaying::TickSeconds), 0.0);
        EXPECT_NEAR(Tones.Speed[19], TMidiPlaying::WheelSpeed, 1e-6);
        seen.push_back(Tones.Speed[12]);
    }
    // The oscillator's envelope restarts only on a change, so the bow keeps changing by a step.
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_NE(seen[i], seen[i - 1]);
    }
    Send({0xB0, 1, 0});
    Player.Tick(Now += TMidiPlaying::TickSeconds);
    EXPECT_EQ(Tones.Speed[12], 0.0f);
}

TEST_F(Midi, TwoNotesOnOneToneAndThePenKeepOffAHeldTone) {
    On(60, 100, 1);
    On(60, 50, 2);
    Off(60, 2);
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 100.0f / 127.0f); // still held by the other note
    // The pen leaves a held tone's pressure alone, and presses the others.
    IToneTarget& pen = Player.PenTones();
    pen.SetPressure(12, 0.0f);
    pen.SetSpeed(12, 0.25f);
    pen.SetPressure(13, 0.5f);
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 100.0f / 127.0f);
    EXPECT_EQ(Tones.Speed[12], 0.25f);
    EXPECT_EQ(Tones.Pressure[13], 0.5f);
    Off(60, 1);
    EXPECT_EQ(Tones.Pressure[12], 0.0f);
    pen.SetPressure(12, 0.5f);
    EXPECT_EQ(Tones.Pressure[12], 0.5f);
}

TEST_F(Midi, BrokenMessagesAndLostSendersLeaveNoTonePressed) {
    Send({0x90, 0xC8, 100});  // a "note above 127": a broken message, ignored
    Send({0x90, 60});         // cut short
    Send({0x90, 60, 100, 0}); // too long
    Send({0x3C, 100});        // no status
    Send({0xF0, 0x7E, 0xF7}); // system exclusive
    EXPECT_EQ(Player.HeldNotes(), 0);
    On(60);
    Send({0x90, 62, 100}, 1);
    Player.ReleaseSource(0); // the port went away
    EXPECT_EQ(Tones.Pressure[12], 0.0f);
    EXPECT_GT(Tones.Pressure[14], 0.0f);
    Player.Message(7, nullptr, 0, 0.0); // no such source
    std::vector<uint8_t> on = {0x90, 62, 100};
    Player.Message(9, on.data(), on.size(), 0.0);
    EXPECT_EQ(Player.HeldNotes(), 1);
    Player.ReleaseAll();
    EXPECT_EQ(Tones.Pressure[14], 0.0f);
    // A new bank forgets the notes: their note-offs then change nothing. A rebuild may start
    // another within it (the engine does when the device changed its period meanwhile).
    On(60);
    Player.ReplaceBank(-1, [&] { Player.ReplaceBank(-1, [] {}); });
    EXPECT_EQ(Player.HeldNotes(), 0);
    On(60); // no scale: no tone
    EXPECT_EQ(Player.HeldNotes(), 0);
}

TEST_F(Midi, PressureIsShownAsItIsGiven) {
    std::vector<float> shown;
    Player.OnPressure = [&](float p) { shown.push_back(p); };
    On(60, 127);
    Off(60);
    EXPECT_EQ(shown, (std::vector<float>{1.0f, 0.0f}));
}

namespace {

// A bend of `semitones` within `range`, as the two data bytes of a pitch-bend message.
std::vector<uint8_t> Bend(int channel, double semitones, double range) {
    const int value =
        std::clamp(static_cast<int>(std::lround(8192 + semitones / range * 8192)), 0, 16383);
    return {static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(value & 0x7F),
            static_cast<uint8_t>(value >> 7)};
}

// Registered parameter `lsb` (MSB 0) set to `value` on channel, as controllers send it.
std::vector<std::vector<uint8_t>> Rpn(int channel, int lsb, int value) {
    const auto cc = static_cast<uint8_t>(0xB0 | channel);
    return {
        {cc, 101, 0}, {cc, 100, static_cast<uint8_t>(lsb)}, {cc, 6, static_cast<uint8_t>(value)}};
}

double CentsOff(float ratio, double semitones) {
    return 1200.0 * std::log2(ratio) - 100.0 * semitones;
}

} // namespace

TEST_F(Midi, AMemberChannelBendsItsNotesPitchWithinFortyEightSemitones) {
    Send(Bend(1, 2.0, 48)); // the bend before the note is where the note starts
    On(60, 100, 1);
    On(64, 100, 2);
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[12], 2.0)), 0.5);
    EXPECT_EQ(Tones.Pitch[16], 1.0f);
    // The manager channel's bend (2 semitones' range) moves every note of the zone, on top.
    Send(Bend(0, -1.0, 2));
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[12], 1.0)), 0.5);
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[16], -1.0)), 0.5);
    // Pressure and slide as before: they press and place, the pitch stays.
    Pass(0.035);
    Send({0xD1, 90});
    Send({0xB1, 74, 100});
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 90.0f / 127.0f);
    EXPECT_FLOAT_EQ(Tones.Strike[12], 100.0f / 127.0f);
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[12], 1.0)), 0.5);
}

TEST_F(Midi, RpnZeroSetsTheBendRangeOfTheWholeZoneOrOfAPlainChannel) {
    for (const auto& m : Rpn(3, 0, 12)) { // on a member channel: every member's
        Send(m);
    }
    Send(Bend(5, 12.0, 12)); // a full bend up on another member
    On(60, 100, 5);
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[12], 12.0)), 1.0);
    // The fine part gives cents.
    Send({0xB3, 38, 50});
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[12], 12.5)), 1.0);
    // Plain MIDI: 2 semitones on a channel, until the channel's own RPN 0.
    Player.SetMpe(false);
    On(62, 100, 0);
    Send(Bend(0, 2.0, 2));
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[14], 2.0)), 1.0);
    for (const auto& m : Rpn(0, 0, 24)) {
        Send(m);
    }
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[14], 24.0)), 1.0);
    // A non-registered parameter's data entry changes no range.
    Send({0xB0, 99, 0});
    Send({0xB0, 98, 0});
    Send({0xB0, 6, 3});
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[14], 24.0)), 1.0);
}

TEST_F(Midi, TheConfigurationMessageSetsAnUpperZoneThatThenPlays) {
    // Upper zone of 3 members (channels 13..15, manager 16); the lower zone keeps 1..11.
    for (const auto& m : Rpn(15, 6, 3)) {
        Send(m);
    }
    On(60, 100, 13);
    On(64, 100, 3);
    Send({0xDF, 40}); // the upper manager's pressure reaches its members' notes only
    EXPECT_FLOAT_EQ(Tones.Pressure[12], std::max(40.0f, 100.0f) / 127.0f); // still striking
    Pass(0.035);
    Send({0xDF, 40});
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 40.0f / 127.0f);
    EXPECT_EQ(Tones.Pressure[16], 0.0f);
    Send(Bend(15, 1.0, 2)); // and its bend, with the manager's 2 semitones' range
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[12], 1.0)), 0.5);
    EXPECT_EQ(Tones.Pitch[16], 1.0f);
    Send(Bend(13, 24.0, 48)); // a member bends 48 semitones' range
    EXPECT_LT(std::fabs(CentsOff(Tones.Pitch[12], 25.0)), 0.5);
    // A lower zone of 14 members takes channels 2..15: the upper zone is gone, and channel 16
    // reaches nobody.
    for (const auto& m : Rpn(0, 6, 14)) {
        Send(m);
    }
    Send({0xDF, 5});
    EXPECT_FLOAT_EQ(Tones.Pressure[12], 40.0f / 127.0f);
    // Zone 0 members: MPE off for that zone; its channels play on their own.
    for (const auto& m : Rpn(0, 6, 0)) {
        Send(m);
    }
    Send({0xD0, 70});
    EXPECT_FLOAT_EQ(Tones.Pressure[16], 0.0f);
}

TEST_F(Midi, BowingInsteadOfBendingAndThePenUnbendsABarANoteLeftBent) {
    Send(Bend(1, 7.0, 48));
    On(60, 100, 1);
    EXPECT_GT(Tones.Pitch[12], 1.4f);
    Player.SetBendPitch(false);
    EXPECT_EQ(Tones.Pitch[12], 1.0f); // every bar back at its own pitch
    Player.SetBendPitch(true);
    EXPECT_GT(Tones.Pitch[12], 1.4f);
    Off(60, 1);
    EXPECT_GT(Tones.Pitch[12], 1.4f); // it rings out where the finger left it
    Player.PenTones().SetPressure(12, 0.5f);
    EXPECT_EQ(Tones.Pitch[12], 1.0f);
}

TEST_F(Midi, AKeyMapDecidesTheToneAndUnmappedKeysPlayNothing) {
    std::array<int, 128> keys{};
    keys.fill(-1);
    keys[60] = 20;
    keys[61] = 20; // two keys on one bar
    Player.SetKeyTones(&keys);
    On(60);
    EXPECT_GT(Tones.Pressure[20], 0.0f);
    EXPECT_EQ(Tones.Pressure[12], 0.0f);
    On(62);
    EXPECT_EQ(Player.HeldNotes(), 1);
    Player.SetKeyTones(nullptr);
    On(62);
    EXPECT_GT(Tones.Pressure[14], 0.0f);
}
