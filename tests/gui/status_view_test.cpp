#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdint>
#include <vector>

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
    RunState runState = RunState::Running;
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
        sawPaused = runState == RunState::Paused && form().pauseButton()->text() == "&Continue" &&
                    form().counter()->text() == "Paused" && !form().stopButton()->isEnabled();
        QTest::mouseClick(form().pauseButton(), Qt::LeftButton);
    });
    QTest::mouseClick(form().pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(sawPaused);
    EXPECT_EQ(runState, RunState::Running);
    EXPECT_EQ(form().pauseButton()->text(), "&Pause");
    EXPECT_TRUE(form().stopButton()->isEnabled());
    // The counter keeps "Paused" until the job next reports.
    EXPECT_EQ(form().counter()->text(), "Paused");
}

TEST_F(StatusViewTest, StopRecordsARequestThatPauseWithdraws) {
    model.open();
    QTest::mouseClick(form().stopButton(), Qt::LeftButton);
    EXPECT_EQ(runState, RunState::StopRequested);
    EXPECT_EQ(form().pauseButton()->text(), "&Pause");
    QTest::mouseClick(form().pauseButton(), Qt::LeftButton);  // returns at once
    EXPECT_EQ(runState, RunState::Running);
    EXPECT_EQ(form().pauseButton()->text(), "&Pause");
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
    form().pauseButton()->setText("&Continue");
    form().stopButton()->setEnabled(false);
    model.close();
    EXPECT_TRUE(first.isNull() || !first->isVisible());

    model.open();
    ASSERT_NE(view.window(), nullptr);
    EXPECT_NE(view.window(), first.data());
    EXPECT_EQ(form().pauseButton()->text(), "&Pause");
    EXPECT_TRUE(form().stopButton()->isEnabled());
    EXPECT_EQ(form().log()->toPlainText(), "Starting download process...\n");
    const QPoint centre = form().frameGeometry().center();
    EXPECT_LE((centre - owner.frameGeometry().center()).manhattanLength(), 4);
}

TEST_F(StatusViewTest, ShowsEachTransferBelowTheButtonsOnlyWhileSomeRun) {
    model.open();
    const QSize firstSize = form().size();
    EXPECT_FALSE(form().transfers()->isVisible());

    const std::string longName = "a-very-long-name-" + std::string(200, 'x') + ".jpg";
    model.showTransfers({{"pic1.jpg", 1500, 3000000}, {longName, 999, -1}, {"pic3.jpg", 0, 0}});
    ASSERT_TRUE(form().transfers()->isVisible());
    const QStringList lines = form().transfers()->text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "pic1.jpg: 1.5 kB of 3.0 MB");
    // A long name gives way in its middle; the figures stay whole.
    EXPECT_TRUE(lines[1].startsWith("a-very-long-name-")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(": 999 bytes")) << lines[1].toStdString();
    EXPECT_LE(QFontMetrics(form().transfers()->font()).horizontalAdvance(lines[1]),
              form().transfers()->width());
    EXPECT_EQ(lines[2], "pic3.jpg: 0 bytes of 0 bytes");
    // Below the buttons, inside the window, which has grown for them.
    EXPECT_GT(form().transfers()->y(), form().stopButton()->geometry().bottom());
    EXPECT_LE(form().transfers()->geometry().bottom(), form().height());
    EXPECT_EQ(form().width(), firstSize.width());
    EXPECT_GT(form().height(), firstSize.height());

    model.showTransfers({{"pic1.jpg", 2999999, 3000000}});
    EXPECT_EQ(form().transfers()->text(), "pic1.jpg: 3.0 MB of 3.0 MB");
    const int oneLineHeight = form().height();
    EXPECT_LT(oneLineHeight, firstSize.height() + 3 * form().transfers()->fontMetrics().height());

    model.showTransfers({});
    EXPECT_FALSE(form().transfers()->isVisible());
    EXPECT_EQ(form().size(), firstSize);
}

// What only a window manager does: openbox runs for this test.
class StatusViewWithWindowManagerTest : public ::testing::Test {
  protected:
    testing::UsesGuiApp app;
    QtEventLoop eventLoop;
};

TEST_F(StatusViewWithWindowManagerTest, StaysWithItsOwnerAndComesBackWhenMinimised) {
    testing::ScopedWindowManager windowManager;
    ASSERT_TRUE(windowManager.running()) << windowManager.problem();
    struct Row {
        const char* what;
        bool owned;          // the status window has its owner, as in the program
        bool minimiseOwner;  // the owner is minimised, else the status window
        bool backAtOnce;     // the status window comes back by itself
    };
    const Row rows[] = {
        // openbox minimises a dialog's owner with it: the owner's task-bar entry brings both
        // back, as it does when the owner was minimised.
        {"the status window", true, false, false},
        {"its owner", true, true, false},
        // Minimised alone, as other window managers minimise a dialog: back at once.
        {"a status window without an owner", false, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QWidget owner;
        owner.setFixedSize(800, 600);
        owner.show();
        RunState runState = RunState::Running;
        QtStatusView view{row.owned ? &owner : nullptr};
        StatusWindow model{runState, view, eventLoop};
        view.setHandlers([&] { model.pauseClick(); }, [&] { model.stopClick(); });
        model.open();
        QtStatusView::Window& form = *view.window();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        if (row.owned) {
            // A dialog of the main window's, which the window manager keeps with it.
            EXPECT_EQ(form.windowType(), Qt::Dialog);
            EXPECT_EQ(form.windowHandle()->transientParent(), owner.windowHandle());
        }
        std::vector<Qt::WindowState> states;
        QObject::connect(form.windowHandle(), &QWindow::windowStateChanged,
                         [&](Qt::WindowState state) { states.push_back(state); });
        const auto shown = [&] { return form.windowHandle()->isExposed() && !form.isMinimized(); };

        QWidget& minimised = row.minimiseOwner ? owner : static_cast<QWidget&>(form);
        ASSERT_TRUE(windowManager.askToMinimise(minimised));
        if (row.backAtOnce) {
            EXPECT_TRUE(waitUntil([&] {
                return !states.empty() && states.front() == Qt::WindowMinimized &&
                       states.back() == Qt::WindowNoState && shown();
            })) << "the status window stayed minimised";
        } else {
            ASSERT_TRUE(waitUntil([&] {
                return owner.isMinimized() && form.isMinimized() &&
                       !form.windowHandle()->isExposed();
            })) << "the status window did not go with its owner";
            QTest::qWait(500);
            EXPECT_FALSE(form.windowHandle()->isExposed()) << "the status window came back alone";
            ASSERT_TRUE(windowManager.askToActivate(owner));
            EXPECT_TRUE(waitUntil([&] { return shown() && !owner.isMinimized(); }))
                << "the status window did not come back with its owner";
        }
        EXPECT_TRUE(form.pauseButton()->isEnabled());
        EXPECT_TRUE(form.stopButton()->isEnabled());
    }
}

}  // namespace
}  // namespace velnoria
