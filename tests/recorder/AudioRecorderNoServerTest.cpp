// The recorder where no sound server answers: start() must fail promptly
// with a reason a person can read, and nothing is left behind.
#include "engine/AudioRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace pealix;

TEST(AudioRecorderNoServerTest, startFailsReadablyAndTheRecorderStaysIdle)
{
    // An old clip is still deleted: it belongs to a recording that is over.
    QFile old(AudioRecorder::clipPath());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();

    AudioRecorder recorder;
    const auto error = recorder.start();
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->description.trimmed().isEmpty());
    EXPECT_FALSE(QFile::exists(AudioRecorder::clipPath()));
    EXPECT_EQ(recorder.recorder(), nullptr);
    EXPECT_FALSE(recorder.stop());
    EXPECT_FALSE(recorder.clipURL());
    const QStringList partials =
        QDir(QFileInfo(AudioRecorder::clipPath()).absolutePath())
            .entryList({QStringLiteral(".pealix-clip-*")}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(partials.isEmpty());
}
