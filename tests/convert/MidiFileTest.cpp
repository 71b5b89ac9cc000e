// Parsing MIDI files into timed events: tempo maps, running status, the RIFF wrapper, and damage.
#include <gtest/gtest.h>

#include <chrono>

#include "MidiSongs.h"
#include "media/MidiFile.h"

namespace klangor {

namespace {

constexpr uint32_t kRate = 44100;

MidiSong Parse(const std::string &strBytes, bool bExpectOk = true) {
    MidiSong song;
    std::string strError;
    const bool bOk = ParseMidiFile(reinterpret_cast<const uint8_t *>(strBytes.data()), strBytes.size(), kRate,
                                   song, strError);
    EXPECT_EQ(bOk, bExpectOk) << strError;
    return song;
}

std::vector<uint64_t> NoteOnSamples(const MidiSong &song) {
    std::vector<uint64_t> samples;
    for (const MidiEvent &event : song.events) {
        if ((event.nStatus & 0xF0) == 0x90 && event.nData2 > 0) {
            samples.push_back(event.nSample);
        }
    }
    return samples;
}

TEST(MidiFile, TracksPlayTogetherThroughTheTempoMap) {
    const MidiSong song = Parse(midi::TwoChannelSongWithDrums());
    EXPECT_EQ(song.nFormat, 1);
    EXPECT_EQ(song.nTracks, 3);
    EXPECT_FALSE(song.bDamaged);
    // Melody at 0 and 0.5 s, drums at 0 and 0.5 s (tick 480 at 120 bpm).
    EXPECT_EQ(NoteOnSamples(song), (std::vector<uint64_t>{0, 0, 22050, 22050}));
    // Tick 1440 = one second at 120 bpm plus 480 ticks at 240 bpm.
    EXPECT_EQ(song.nEndSample, 44100u + 11025u);
    // Events come in time order whatever track they are in, and the drum channel is kept as channel 10.
    for (size_t i = 1; i < song.events.size(); ++i) {
        EXPECT_LE(song.events[i - 1].nSample, song.events[i].nSample);
    }
    EXPECT_EQ(song.events[0].nStatus, 0xC0);
    EXPECT_EQ(NoteOnSamples(song).size(), 4u);
    bool bDrum = false;
    for (const MidiEvent &event : song.events) {
        bDrum |= event.nStatus == 0x99;
    }
    EXPECT_TRUE(bDrum);
}

TEST(MidiFile, RunningStatusTempoChangesAndTimeCodeDivision) {
    const MidiSong song = Parse(midi::RunningStatusSong());
    EXPECT_EQ(NoteOnSamples(song), (std::vector<uint64_t>{0, 22050, 44100, 66150, 88200}));
    EXPECT_EQ(song.nEndSample, 88200u + 11025u);
    for (const MidiEvent &event : song.events) {
        EXPECT_EQ(event.nStatus & 0x0F, 2) << "running status keeps the channel";
    }

    // 25 frames of 40 ticks: 1000 ticks a second, whatever the tempo says.
    const std::string strSmpte =
        midi::Header(0, 1, (0xE7 << 8) | 40) + midi::Track({{0, midi::Tempo(250000)},
                                                            {500, midi::Bytes({0x90, 60, 100})},
                                                            {500, midi::Bytes({0x80, 60, 0})}});
    const MidiSong smpte = Parse(strSmpte);
    EXPECT_EQ(NoteOnSamples(smpte), (std::vector<uint64_t>{22050}));
    EXPECT_EQ(smpte.nEndSample, 44100u);
}

TEST(MidiFile, RiffWrapperAndIndependentTracksOfFormatTwo) {
    const MidiSong plain = Parse(midi::TwoChannelSongWithDrums());
    const MidiSong wrapped = Parse(midi::Rmid(midi::TwoChannelSongWithDrums()));
    EXPECT_EQ(NoteOnSamples(wrapped), NoteOnSamples(plain));
    EXPECT_EQ(wrapped.nEndSample, plain.nEndSample);

    const std::string strPattern =
        midi::Track({{0, midi::Bytes({0x90, 60, 100})}, {480, midi::Bytes({0x80, 60, 0})}});
    const MidiSong sequence = Parse(midi::Header(2, 2, 480) + strPattern + strPattern);
    EXPECT_EQ(NoteOnSamples(sequence), (std::vector<uint64_t>{0, 22050}));
    EXPECT_EQ(sequence.nEndSample, 44100u);
}

TEST(MidiFile, DamagedFilesKeepWhatWasValidBeforeTheDamage) {
    const std::string strGood =
        midi::Track({{0, midi::Bytes({0x90, 60, 100})}, {480, midi::Bytes({0x80, 60, 0})}});

    // A track cut short, its chunk claiming more bytes than the file has.
    const std::string strWhole = midi::Header(1, 2, 480) + strGood + strGood;
    const MidiSong truncated = Parse(strWhole.substr(0, strWhole.size() - 5));
    EXPECT_TRUE(truncated.bDamaged);
    EXPECT_EQ(NoteOnSamples(truncated), (std::vector<uint64_t>{0, 0}));

    // Running status with no status byte before it: that track has nothing, the other plays.
    const std::string strNoStatus = midi::Track({{0, midi::Bytes({60, 100})}, {480, midi::Bytes({60, 0})}});
    const MidiSong noStatus = Parse(midi::Header(1, 2, 480) + strNoStatus + strGood);
    EXPECT_TRUE(noStatus.bDamaged);
    EXPECT_EQ(NoteOnSamples(noStatus), (std::vector<uint64_t>{0}));

    // A delta time longer than four bytes, and a data byte above 127, end their tracks there.
    const std::string strLongDelta =
        "MTrk" + midi::Be(9, 4) + midi::Bytes({0, 0x90, 62, 90, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    const MidiSong longDelta = Parse(midi::Header(0, 1, 480) + strLongDelta);
    EXPECT_TRUE(longDelta.bDamaged);
    EXPECT_EQ(NoteOnSamples(longDelta), (std::vector<uint64_t>{0}));
    const MidiSong badData =
        Parse(midi::Header(0, 1, 480) +
              midi::Track({{0, midi::Bytes({0x90, 64, 80})}, {10, midi::Bytes({0x90, 200, 80})}}));
    EXPECT_TRUE(badData.bDamaged);
    EXPECT_EQ(NoteOnSamples(badData).size(), 1u);

    // Nothing playable at all.
    Parse("", false);
    Parse("MThd", false);
    Parse(midi::Header(1, 1, 0) + strGood, false);                                      // no time division
    Parse(midi::Header(7, 1, 480) + strGood, false);                                    // no such format
    Parse(midi::Header(0, 1, 480), false);                                              // no track
    Parse(midi::Header(0, 1, 480) + strNoStatus, false);                                // no event survives
    Parse("MThd" + midi::Be(0xFFFFFFF0u, 4) + midi::Bytes({0, 0, 0, 1, 1, 0}), false);  // header past the end
    Parse(midi::Rmid("RIFF junk, not a song"), false);
}

TEST(MidiFile, HostileLengthsAreBoundedNotFollowed) {
    // Delta times of the largest size, over and over: the song would last for centuries.
    std::string strBody = midi::VarLen(0) + midi::Bytes({0x90, 64, 100});
    for (int i = 0; i < 20000; ++i) {
        strBody += midi::VarLen(0x0FFFFFFF) + midi::Bytes({0x90, 60, 100});
    }
    const auto start = std::chrono::steady_clock::now();
    const MidiSong endless =
        Parse(midi::Header(0, 1, 1) + "MTrk" + midi::Be(static_cast<uint32_t>(strBody.size()), 4) + strBody);
    EXPECT_TRUE(endless.bDamaged);
    EXPECT_LE(endless.nEndSample, uint64_t{13} * 3600 * kRate);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // A system exclusive message whose length runs past the file keeps the notes before it.
    const std::string strSysex =
        midi::Track({{0, midi::Bytes({0x90, 60, 100})}, {10, midi::Bytes({0xF0, 0x7F, 1, 2})}}, false);
    const MidiSong sysex = Parse(midi::Header(0, 1, 480) + strSysex);
    EXPECT_TRUE(sysex.bDamaged);
    EXPECT_EQ(NoteOnSamples(sysex).size(), 1u);
    EXPECT_TRUE(sysex.sysex.empty());
}

}  // namespace

}  // namespace klangor
