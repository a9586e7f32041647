#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdint>

#include "download/program_state.h"
#include "download/status_window.h"
#include "platform/qt/qt_event_loop.h"
#include "shell/qt_status_view.h"
#include "tests/gui/gui_test_support.h"

namespace velnoria {
namespace {

using testing::guiApp;
using testing::waitUntil;

class StatusViewTest : public ::testing::Test {
  protected:
    StatusViewTest() {
        owner.setFixedSize(800, 600);
        owner.show();
        view.setHandlers([this] { model.pauseClick(); }, [this] { model.stopClick(); });
    }

    QtStatusView::Window& form() { return *view.window(); }

    testing::UsesGuiApp app;
    QWidget owner;
    std::uint8_t runState = kRunning;
    QtEventLoop eventLoop;
    QtStatusView view{&owner};
    StatusWindow model{runState, view, eventLoop};
};

TEST_F(StatusViewTest, ShowsTheJobsTextsAsTheModelSetsThem) {
    model.open();
    ASSERT_NE(view.window(), nullptr);
    EXPECT_TRUE(form().isVisible());
    EXPECT_EQ(form().windowTitle(), "Download status");
    EXPECT_EQ(form().log()->toPlainText(), "Starting download process...\n");
    EXPECT_EQ(form().counter()->text(), "");

    model.appendLog("Downloading file a.jpg...");
    model.appendLog("OK\r\n");
    model.showFinishedCount(3);
    model.setProgressMinimum(0);
    model.setProgressMaximum(2048);
    model.setProgressValue(1024);
    // A name from the network that turns the direction of the text is shown escaped.
    model.appendLog("Downloading file photo_\xE2\x80\xAEgpj.exe...");
    model.appendLog("OK\r\n");
    EXPECT_EQ(form().log()->toPlainText(),
              "Starting download process...\nDownloading file a.jpg...OK\n"
              "Downloading file photo_\\u202Egpj.exe...OK\n");
    EXPECT_EQ(form().counter()->text(), "Download in progress... 3 files finished.\n");
    EXPECT_EQ(form().progressBar()->maximum(), 2048);
    EXPECT_EQ(form().progressBar()->value(), 1024);
}

TEST_F(StatusViewTest, PauseHoldsUntilContinueIsClicked) {
    model.open();
    model.showFinishedCount(1);
    bool sawPaused = false;
    QTimer::singleShot(200, [&] {
        // Inside the pause: the first click has not returned yet.
        sawPaused = runState == kPaused && form().pauseButton()->text() == "Continue" &&
                    form().counter()->text() == "Paused" && !form().stopButton()->isEnabled();
        QTest::mouseClick(form().pauseButton(), Qt::LeftButton);
    });
    QTest::mouseClick(form().pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(sawPaused);
    EXPECT_EQ(runState, kRunning);
    EXPECT_EQ(form().pauseButton()->text(), "Pause");
    EXPECT_TRUE(form().stopButton()->isEnabled());
    // The counter keeps "Paused" until the job next reports.
    EXPECT_EQ(form().counter()->text(), "Paused");
}

TEST_F(StatusViewTest, StopRecordsARequestThatPauseWithdraws) {
    model.open();
    QTest::mouseClick(form().stopButton(), Qt::LeftButton);
    EXPECT_EQ(runState, kStopRequested);
    EXPECT_EQ(form().pauseButton()->text(), "Pause");
    QTest::mouseClick(form().pauseButton(), Qt::LeftButton);  // returns at once
    EXPECT_EQ(runState, kRunning);
    EXPECT_EQ(form().pauseButton()->text(), "Pause");
    EXPECT_TRUE(form().stopButton()->isEnabled());
}

TEST_F(StatusViewTest, CannotBeClosedByTheUser) {
    model.open();
    EXPECT_FALSE(form().close());
    EXPECT_TRUE(form().isVisible());
    const Qt::WindowFlags flags = form().windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
}

TEST_F(StatusViewTest, EveryJobGetsAFreshWindowCentredOnItsOwner) {
    model.open();
    QPointer<QtStatusView::Window> first = view.window();
    form().pauseButton()->setText("Continue");
    form().stopButton()->setEnabled(false);
    model.close();
    EXPECT_TRUE(first.isNull() || !first->isVisible());

    model.open();
    ASSERT_NE(view.window(), nullptr);
    EXPECT_NE(view.window(), first.data());
    EXPECT_EQ(form().pauseButton()->text(), "Pause");
    EXPECT_TRUE(form().stopButton()->isEnabled());
    EXPECT_EQ(form().log()->toPlainText(), "Starting download process...\n");
    const QPoint centre = form().frameGeometry().center();
    EXPECT_LE((centre - owner.frameGeometry().center()).manhattanLength(), 4);
}

}  // namespace
}  // namespace velnoria
