#include <gtest/gtest.h>

#include <cmath>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "player/GraphRegistration.h"
#include "player/MpvPlayback.h"
#include "player/PlaceVideo.h"
#include "support/TempDir.h"

namespace klangor {

namespace {

void ExpectRect(const std::optional<VideoRect> &rect, int iLeft, int iTop, int iWidth, int iHeight) {
    ASSERT_TRUE(rect.has_value());
    EXPECT_EQ(rect->iLeft, iLeft);
    EXPECT_EQ(rect->iTop, iTop);
    EXPECT_EQ(rect->iWidth, iWidth);
    EXPECT_EQ(rect->iHeight, iHeight);
}

TEST(PlaceVideoTest, KeepsAspectCentresAndLeavesOnePixelMargin) {
    ExpectRect(PlaceVideo(320, 240, 640, 360), 1, 31, 319, 179);
    // Taller than the host: bars at the sides.
    ExpectRect(PlaceVideo(320, 240, 100, 200), 101, 1, 119, 239);
    // Scale factors are truncated, never rounded up past the host.
    ExpectRect(PlaceVideo(333, 100, 100, 100), 117, 1, 99, 99);
}

TEST(PlaceVideoTest, VideoWithoutSizePlacesNothingInsteadOfDividingByZero) {
    EXPECT_FALSE(PlaceVideo(320, 240, 0, 360).has_value());
    EXPECT_FALSE(PlaceVideo(320, 240, 640, 0).has_value());
    // An empty host gives an empty picture, not a negative one from a wrapped size.
    const auto rect = PlaceVideo(0, 0, 640, 360);
    ASSERT_TRUE(rect.has_value());
    EXPECT_LE(rect->iWidth, 0);
}

TEST(VolumeMappingTest, HundredthsOfDecibelMapToAmplitudeAndBackExactly) {
    // libmpv's gain is the cube of its percentage; -20 dB is an amplitude of 0.1.
    EXPECT_NEAR(std::pow(VolumeToMpvPercent(-2000) / 100.0, 3), 0.1, 1e-12);
    EXPECT_NEAR(std::pow(VolumeToMpvPercent(-6000) / 100.0, 3), 0.001, 1e-12);
    EXPECT_DOUBLE_EQ(VolumeToMpvPercent(0), 100.0);
    EXPECT_DOUBLE_EQ(VolumeToMpvPercent(-10000), 0.0) << "the bottom of the range is silence";
    for (long lVolume = -10000; lVolume <= 0; ++lVolume) {
        // libmpv keeps its volume as a float: the way back must survive that.
        const auto fStored = static_cast<float>(VolumeToMpvPercent(lVolume));
        ASSERT_EQ(MpvPercentToVolume(fStored), lVolume);
    }
}

class RegistrationTest : public ::testing::Test {
protected:
    // A listening socket at the path; with bKeepOpen false it is closed again, leaving a stale name.
    int Listen(const std::string &strPath, bool bKeepOpen) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
        EXPECT_EQ(listen(fd, 1), 0);
        if (!bKeepOpen) {
            close(fd);
            return -1;
        }
        return fd;
    }

    TempDir m_dir;
};

TEST_F(RegistrationTest, NameCarriesReferenceAndProcessInEightHexDigits) {
    EXPECT_EQ(GraphItemName(0x1234abcd, 0x42), "FilterGraph 1234abcd pid 00000042");
}

TEST_F(RegistrationTest, FolderIsCreatedPrivateAndAnOpenOneIsClosed) {
    setenv("XDG_RUNTIME_DIR", m_dir.Path().c_str(), 1);
    std::string strFolder;
    ASSERT_EQ(PrepareRegistrationFolder(strFolder), kPlaybackOk);
    EXPECT_EQ(strFolder, m_dir.Path().string() + "/klangor");
    struct stat info {};
    ASSERT_EQ(stat(strFolder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    chmod(strFolder.c_str(), 0755);
    ASSERT_EQ(PrepareRegistrationFolder(strFolder), kPlaybackOk);
    ASSERT_EQ(stat(strFolder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "others must not reach the sockets";

    unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(PrepareRegistrationFolder(strFolder), kPlaybackOk);
    EXPECT_EQ(strFolder, "/tmp/klangor-" + std::to_string(getuid()));
}

TEST_F(RegistrationTest, StaleSocketIsReplacedButLiveSocketsAndFilesAreKept) {
    const std::string strStale = (m_dir.Path() / "stale").string();
    Listen(strStale, false);
    ASSERT_EQ(access(strStale.c_str(), F_OK), 0);
    EXPECT_EQ(ClearSocketPath(strStale), kPlaybackOk);
    EXPECT_NE(access(strStale.c_str(), F_OK), 0);

    const std::string strLive = (m_dir.Path() / "live").string();
    const int fd = Listen(strLive, true);
    EXPECT_LT(ClearSocketPath(strLive), 0);
    EXPECT_EQ(access(strLive.c_str(), F_OK), 0);
    close(fd);

    const std::string strFile = (m_dir.Path() / "file").string();
    FILE *pFile = fopen(strFile.c_str(), "w");
    fclose(pFile);
    EXPECT_LT(ClearSocketPath(strFile), 0);
    RemoveSocket(strFile);
    EXPECT_EQ(access(strFile.c_str(), F_OK), 0) << "only sockets are ever removed";

    EXPECT_EQ(ClearSocketPath((m_dir.Path() / "nothing-here").string()), kPlaybackOk);
    EXPECT_LT(ClearSocketPath("/" + std::string(200, 'a')), 0) << "too long for a socket address";
}

}  // namespace

}  // namespace klangor
