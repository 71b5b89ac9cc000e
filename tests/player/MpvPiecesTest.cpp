// The pieces the libmpv playback is made of, on their own: what its events mean, and where it stands.
#include <gtest/gtest.h>

#include "player/MpvEvents.h"
#include "player/MpvPosition.h"

namespace klangor {

namespace {

TEST(MpvEventTranslatorTest, CompletionComesFromTheEofFlagRisingOrTheStreamsEndOnly) {
    MpvEventTranslator events;
    EXPECT_FALSE(events.OnEofReached(false));
    const auto reached = events.OnEofReached(true);
    ASSERT_TRUE(reached);
    EXPECT_EQ(reached->lCode, kEventComplete);
    EXPECT_FALSE(events.OnEofReached(true)) << "a flag that stays up completes once";
    EXPECT_FALSE(events.OnEofReached(false));
    ASSERT_TRUE(events.OnEofReached(true)) << "after a seek back, reaching the end again completes again";
    const auto end = events.OnEndFile(MpvEventTranslator::kEndEof, 0);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->lCode, kEventComplete);
    const auto error = events.OnEndFile(MpvEventTranslator::kEndError, -13);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->lCode, kEventErrorAbort);
    EXPECT_EQ(error->lParam1, -13);
    const auto other = events.OnOther(6);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->lCode, kEventEngine + 6);
    EXPECT_FALSE(events.IsLost());
}

TEST(MpvEventTranslatorTest, StopLoadfileAndQuitFromOutsideEndThePlaybackWithoutCompleting) {
    for (int iReason :
         {MpvEventTranslator::kEndStop, MpvEventTranslator::kEndRedirect, MpvEventTranslator::kEndQuit}) {
        SCOPED_TRACE(iReason);
        MpvEventTranslator events;
        const auto ended = events.OnEndFile(iReason, 0);
        ASSERT_TRUE(ended);
        EXPECT_EQ(ended->lCode, kEventEndedElsewhere);
        EXPECT_TRUE(events.IsLost());
        // Another file loaded from outside may reach its own end: that is not ours.
        EXPECT_FALSE(events.OnEofReached(true));
        EXPECT_FALSE(events.OnEndFile(MpvEventTranslator::kEndEof, 0));
        EXPECT_FALSE(events.OnShutdown());
    }
    MpvEventTranslator events;
    const auto shutdown = events.OnShutdown();
    ASSERT_TRUE(shutdown);
    EXPECT_EQ(shutdown->lCode, kEventEndedElsewhere);
    EXPECT_TRUE(events.IsLost());
}

TEST(PlaybackPositionTest, AHeldSeekReadsItsTargetUntilPlaybackMovesAgain) {
    PlaybackPosition position;
    position.SetDuration(30 * kMediaTimePerSecond);
    EXPECT_EQ(position.Read(1.5, false), 15 * kMediaTimePerSecond / 10);
    position.OnSeek(10 * kMediaTimePerSecond, true);
    EXPECT_EQ(position.Read(1.5, true), 10 * kMediaTimePerSecond) << "not landed: the old time is stale";
    position.OnLanded();
    // The audio output trails the target on a held clip: the target is what the user put it to.
    EXPECT_EQ(position.Read(9.8, true), 10 * kMediaTimePerSecond);
    EXPECT_EQ(position.Read(std::nullopt, true), 10 * kMediaTimePerSecond);
    // Running again, the engine's time counts.
    EXPECT_EQ(position.Read(10.2, false), 102 * kMediaTimePerSecond / 10);
    EXPECT_EQ(position.Read(9.8, true), 98 * kMediaTimePerSecond / 10) << "the held target went with the run";
    position.OnSeek(5 * kMediaTimePerSecond, true);
    position.OnMoving();
    EXPECT_EQ(position.Read(10.3, false), 5 * kMediaTimePerSecond) << "run before the seek landed";
    position.OnLanded();
    EXPECT_EQ(position.Read(4.9, true), 49 * kMediaTimePerSecond / 10);
    // A seek made while running holds nothing once it has landed.
    position.OnSeek(20 * kMediaTimePerSecond, false);
    EXPECT_EQ(position.Read(4.9, false), 20 * kMediaTimePerSecond);
    position.OnLanded();
    EXPECT_EQ(position.Read(19.9, true), 199 * kMediaTimePerSecond / 10);
}

TEST(PlaybackPositionTest, NoTimeKeepsTheLastPlaceAndTimesOutsideTheClipAreClamped) {
    PlaybackPosition position;
    position.SetDuration(2 * kMediaTimePerSecond);
    EXPECT_EQ(position.Read(std::nullopt, false), 0);
    EXPECT_EQ(position.Read(1.0, false), kMediaTimePerSecond);
    EXPECT_EQ(position.Read(std::nullopt, false), kMediaTimePerSecond) << "a damaged stream keeps its place";
    EXPECT_EQ(position.Read(-0.5, false), 0);
    EXPECT_EQ(position.Read(7.0, false), 2 * kMediaTimePerSecond);
}

}  // namespace

}  // namespace klangor
