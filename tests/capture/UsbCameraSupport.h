// The fake USB camera (tests/uvcfake) for the capture tests. The library must
// be in the process before anything opens a node, so each test runs again in a
// child process that preloads it, with a device folder holding video0.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

inline const QString kCard = QStringLiteral("Fake UVC Camera");

struct ChildRun {
    enum Status { Here, Passed, Failed, Skipped } status = Here;
    std::string output;
};

// In the parent: runs the current test in the child. In the child: Here.
ChildRun RunWithFakeCamera();

// In the parent: runs the test in the child and reports its outcome. In the
// child: goes on with the test body.
#define WITH_FAKE_CAMERA()                                                                         \
    if (const ChildRun run = RunWithFakeCamera(); run.status != ChildRun::Here) {                  \
        if (run.status == ChildRun::Skipped)                                                       \
            GTEST_SKIP() << run.output;                                                            \
        EXPECT_EQ(run.status, ChildRun::Passed) << run.output;                                     \
        return;                                                                                    \
    }

// The child's device folder and its nodes.
QString DeviceDir();
QString NodePath(int n);
// The camera's record of the controls set: "ID=VALUE RESULT" a line.
QStringList ControlLog();
