#include "shell/settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "core/choices.h"
#include "download/name_templates.h"
#include "platform/qt/qt_desktop.h"
#include "tests/gui/gui_test_support.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::guiApp;
using testing::ModalAnswerer;
using testing::readFile;
using testing::ScopedWorkFolder;
using testing::writeFile;

class SettingsDialogTest : public ::testing::Test {
  protected:
    SettingsDialogTest() {
        settings.savePath = (work.path() / "images").string();
        fs::create_directories(settings.savePath);
    }

    SettingsDialog* openDialog() {
        auto* dialog = new SettingsDialog(
            settings, choices, messageBox, work.path() / "settings.dat",
            [this](const std::string& file) {
                checked.push_back(file);
                return file == "bad.toml" ? std::string("bad.toml:1:1: broken") : std::string();
            },
            [this] { ++forgotten; });
        dialog->show();
        return dialog;
    }

    void typeAndPressOk(SettingsDialog* dialog, const QString& timeout, const QString& piece) {
        dialog->timeoutBox()->clear();
        QTest::keyClicks(dialog->timeoutBox(), timeout);
        dialog->pieceSizeBox()->clear();
        QTest::keyClicks(dialog->pieceSizeBox(), piece);
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    }

    testing::UsesGuiApp app;
    ScopedWorkFolder work;
    Settings settings;
    Choices choices;
    QtMessageBox messageBox;
    std::vector<std::string> checked;  // rules files checked, in order
    int forgotten = 0;                 // presses of "Forget cookies and site data" carried out
};

TEST_F(SettingsDialogTest, ShowsTheSettingsInEffect) {
    QPointer<SettingsDialog> dialog = openDialog();
    EXPECT_EQ(dialog->windowTitle(), "Settings");
    EXPECT_EQ(dialog->timeoutBox()->text(), "30");
    EXPECT_EQ(dialog->folderBox()->text().toStdString(), settings.savePath);
    EXPECT_EQ(dialog->folderBox()->toolTip().toStdString(), settings.savePath);
    EXPECT_EQ(dialog->pieceSizeBox()->text(), "102400");
    delete dialog;
}

TEST_F(SettingsDialogTest, OkStoresTheNumbersAsReadAndRewritesTheFile) {
    struct Case {
        const char* timeoutText;
        const char* pieceText;
        int timeout;
        int piece;
    };
    const Case cases[] = {
        {"45", "51200", 45, 51200},   {"12abc", "4096", 12, 4096}, {"7.5", "1", 8, 1},
        {"6.5", "102400", 6, 102400}, {"1 5", "2.5", 15, 2},       {"", "&H10", 0, 16},
    };
    for (const Case& c : cases) {
        QPointer<SettingsDialog> dialog = openDialog();
        typeAndPressOk(dialog, c.timeoutText, c.pieceText);
        EXPECT_TRUE(dialog.isNull() || !dialog->isVisible()) << c.timeoutText;
        EXPECT_EQ(settings.timeoutSeconds, c.timeout) << c.timeoutText;
        EXPECT_EQ(settings.pieceSize, c.piece) << c.pieceText;
        EXPECT_EQ(readFile(work.path() / "settings.dat"), settings.savePath + "\r\n " +
                                                              std::to_string(c.timeout) + " \r\n " +
                                                              std::to_string(c.piece) + " \r\n")
            << c.timeoutText;
        delete dialog.data();
    }
    // OK made a file in the save folder to check it, and left nothing there.
    EXPECT_TRUE(fs::is_empty(settings.savePath));
}

TEST_F(SettingsDialogTest, RefusesValuesTheDownloadCannotUseAndStaysOpen) {
    writeFile(work.path() / "a file", "");
    const std::string usable = settings.savePath;
    struct Case {
        const char* timeoutText;
        const char* pieceText;
        std::string folder;
        int folderError;  // why no file can be made in the folder; 0: it can
    };
    const Case refused[] = {
        {"256", "1000", usable, 0},
        {"-1", "1000", usable, 0},
        {"30", "0", usable, 0},
        {"30", "-5", usable, 0},
        {"30", "3000000000", usable, 0},
        {"30", "", usable, 0},
        // A save folder in which the job could not make a file, said as the job would say it.
        {"30", "1000", (work.path() / "missing").string(), ENOENT},
        {"30", "1000", (work.path() / "a file").string(), ENOTDIR},
    };
    for (const Case& c : refused) {
        ModalAnswerer answerer;
        settings.savePath = c.folder;
        QPointer<SettingsDialog> dialog = openDialog();
        typeAndPressOk(dialog, c.timeoutText, c.pieceText);
        ASSERT_EQ(answerer.boxes().size(), 1u) << c.timeoutText << " " << c.pieceText;
        EXPECT_EQ(answerer.boxes()[0].title, "Error");
        EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Critical);
        EXPECT_FALSE(answerer.boxes()[0].text.isEmpty());
        if (c.folderError != 0) {
            EXPECT_EQ(answerer.boxes()[0].text.toStdString(),
                      "Cannot save files in " + c.folder + ": " + std::strerror(c.folderError));
        }
        ASSERT_FALSE(dialog.isNull());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(settings.timeoutSeconds, 30);
        EXPECT_EQ(settings.pieceSize, 102400);
        EXPECT_FALSE(fs::exists(work.path() / "settings.dat"));
        delete dialog.data();
    }
}

TEST_F(SettingsDialogTest, EscapeLeavesWithoutSavingAndReturnPressesOk) {
    QPointer<SettingsDialog> dialog = openDialog();
    dialog->activateWindow();
    dialog->timeoutBox()->setFocus();
    dialog->timeoutBox()->setText("45");
    QTest::keyClick(dialog->timeoutBox(), Qt::Key_Escape);
    EXPECT_TRUE(dialog.isNull() || !dialog->isVisible());
    EXPECT_EQ(settings.timeoutSeconds, 30);
    EXPECT_FALSE(fs::exists(work.path() / "settings.dat"));
    delete dialog.data();

    // Return, also the keypad's, in a field or on a check box presses OK.
    const std::function<QWidget*(SettingsDialog&)> fields[] = {
        [](SettingsDialog& d) { return static_cast<QWidget*>(d.timeoutBox()); },
        [](SettingsDialog& d) { return static_cast<QWidget*>(d.pieceSizeBox()); },
        [](SettingsDialog& d) { return static_cast<QWidget*>(d.downloadsAtOnceBox()); },
        [](SettingsDialog& d) { return static_cast<QWidget*>(d.skipExistingBox()); },
        [](SettingsDialog& d) { return static_cast<QWidget*>(d.folderTemplateBox()); },
        [](SettingsDialog& d) { return static_cast<QWidget*>(d.watchMinutesBox()); },
    };
    int timeout = 40;
    for (const auto& field : fields) {
        dialog = openDialog();
        dialog->timeoutBox()->setText(QString::number(++timeout));
        QWidget* focused = field(*dialog);
        focused->setFocus();
        QTest::keyClick(focused, timeout % 2 == 0 ? Qt::Key_Return : Qt::Key_Enter,
                        timeout % 2 == 0 ? Qt::NoModifier : Qt::KeypadModifier);
        EXPECT_TRUE(dialog.isNull() || !dialog->isVisible()) << timeout;
        EXPECT_EQ(settings.timeoutSeconds, timeout);
        delete dialog.data();
    }
}

TEST_F(SettingsDialogTest, BrowseTakesEffectAtOnceButOnlyOkSavesIt) {
    const fs::path chosen = work.path() / "picked, with comma";
    fs::create_directories(chosen);
    ModalAnswerer answerer;
    QString pickerTitle;
    answerer.onOtherDialog([&](QWidget* modal) {
        auto* picker = qobject_cast<QFileDialog*>(modal);
        if (picker == nullptr) return;
        pickerTitle = picker->windowTitle();
        // Typed into the picker's name box, as a user may do.
        auto* name = picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(chosen.string()));
        QMetaObject::invokeMethod(picker, "accept");
    });
    QPointer<SettingsDialog> dialog = openDialog();
    QTest::mouseClick(dialog->browseButton(), Qt::LeftButton);
    EXPECT_EQ(pickerTitle, "Select Folder");
    EXPECT_EQ(settings.savePath, chosen.string());
    EXPECT_EQ(dialog->folderBox()->text().toStdString(), chosen.string());

    // Closed by its close box: nothing written, the folder stays in effect.
    dialog->close();
    EXPECT_FALSE(fs::exists(work.path() / "settings.dat"));
    EXPECT_EQ(settings.savePath, chosen.string());

    // Typing into the folder box changes nothing; OK saves the picked folder.
    dialog = openDialog();
    dialog->folderBox()->setText("/somewhere/else");
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    EXPECT_EQ(readFile(work.path() / "settings.dat"), chosen.string() + "\r\n 30 \r\n 102400 \r\n");
}

TEST_F(SettingsDialogTest, CancelledBrowseKeepsTheFolder) {
    const std::string before = settings.savePath;
    ModalAnswerer answerer;
    answerer.onOtherDialog([](QWidget* modal) {
        if (auto* picker = qobject_cast<QFileDialog*>(modal)) picker->reject();
    });
    QPointer<SettingsDialog> dialog = openDialog();
    QTest::mouseClick(dialog->browseButton(), Qt::LeftButton);
    EXPECT_EQ(settings.savePath, before);
    EXPECT_EQ(dialog->folderBox()->text().toStdString(), before);
    delete dialog.data();
}

TEST_F(SettingsDialogTest, JobOptionsTakeEffectAndAreSavedBesideTheSettingsWithOk) {
    // Choices of other kinds, as read at start-up, stay as they are.
    writeFile(work.path() / "choices.conf", "rules-file = r.toml\n");
    choices.rulesFile = "r.toml";
    const Choices before = choices;
    QPointer<SettingsDialog> dialog = openDialog();
    EXPECT_FALSE(dialog->followNextPagesBox()->isChecked());
    EXPECT_FALSE(dialog->skipExistingBox()->isChecked());
    EXPECT_EQ(dialog->downloadsAtOnceBox()->value(), 1);
    EXPECT_EQ(dialog->downloadsAtOnceBox()->maximum(), 16);
    EXPECT_EQ(dialog->downloadsAtOnceBox()->minimum(), 1);

    QTest::mouseClick(dialog->followNextPagesBox(), Qt::LeftButton);
    QTest::mouseClick(dialog->skipExistingBox(), Qt::LeftButton);
    dialog->downloadsAtOnceBox()->setValue(8);
    // Closed without OK: nothing changes.
    dialog->close();
    EXPECT_EQ(choices, before);
    EXPECT_EQ(readFile(work.path() / "choices.conf"), "rules-file = r.toml\n");

    dialog = openDialog();
    QTest::mouseClick(dialog->followNextPagesBox(), Qt::LeftButton);
    dialog->downloadsAtOnceBox()->setValue(8);
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    EXPECT_TRUE(choices.followNextPages);
    EXPECT_FALSE(choices.skipExisting);
    EXPECT_EQ(choices.downloadsAtOnce, 8);
    EXPECT_EQ(choices.rulesFile, "r.toml");
    EXPECT_EQ(readFile(work.path() / "choices.conf"),
              "# Velnoria Morvath: choices beside settings.dat, one \"key = value\" a line.\n"
              "rules-file = r.toml\nlinked-images = false\nfollow-next-pages = true\n"
              "skip-existing = false\ndownloads-at-once = 8\nremember-saved = false\n"
              "folder-template = \nname-template = \nwatch-minutes = 0\n");
    EXPECT_EQ(*readChoicesFile(work.path() / "choices.conf"), choices);

    dialog = openDialog();
    EXPECT_TRUE(dialog->followNextPagesBox()->isChecked());
    EXPECT_EQ(dialog->downloadsAtOnceBox()->value(), 8);
    delete dialog.data();
}

TEST_F(SettingsDialogTest, TheChoicesBelowAreSavedBesideSettingsDat) {
    writeFile(work.path() / "choices.conf", "parallel = 4\n");
    choices.otherKeys = {{"parallel", "4"}};
    QPointer<SettingsDialog> dialog = openDialog();
    EXPECT_EQ(dialog->rulesBox()->text(), "");
    EXPECT_FALSE(dialog->linkedImagesBox()->isChecked());
    QTest::keyClicks(dialog->rulesBox(), "  my rules.toml ");
    dialog->linkedImagesBox()->click();
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);

    EXPECT_EQ(choices.rulesFile, "my rules.toml");
    EXPECT_TRUE(choices.linkedImages);
    EXPECT_EQ(checked, std::vector<std::string>{"my rules.toml"});
    // settings.dat keeps its three lines; the choices go to their own file, the other keys kept.
    EXPECT_EQ(readFile(work.path() / "settings.dat"),
              settings.savePath + "\r\n 30 \r\n 102400 \r\n");
    EXPECT_EQ(*readChoicesFile(work.path() / "choices.conf"), choices);
    EXPECT_NE(readFile(work.path() / "choices.conf").find("parallel = 4\n"), std::string::npos);

    // Shown again as saved; cleared, the rules file is gone and nothing is checked.
    dialog = openDialog();
    EXPECT_EQ(dialog->rulesBox()->text(), "my rules.toml");
    EXPECT_TRUE(dialog->linkedImagesBox()->isChecked());
    dialog->rulesBox()->clear();
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    EXPECT_EQ(choices.rulesFile, "");
    EXPECT_EQ(checked.size(), 1u);
    EXPECT_EQ(readChoicesFile(work.path() / "choices.conf")->rulesFile, "");
}

TEST_F(SettingsDialogTest, UnchangedChoicesWriteNoFileAndTheCloseBoxNothing) {
    QPointer<SettingsDialog> dialog = openDialog();
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    EXPECT_FALSE(fs::exists(work.path() / "choices.conf"));

    dialog = openDialog();
    dialog->linkedImagesBox()->click();
    QTest::keyClicks(dialog->rulesBox(), "r.toml");
    dialog->close();
    EXPECT_EQ(choices, Choices{});
    EXPECT_FALSE(fs::exists(work.path() / "choices.conf"));
}

TEST_F(SettingsDialogTest, ProblemsOfTheRulesFileAreShownAtOkAndTheChoiceKept) {
    ModalAnswerer answerer;
    QPointer<SettingsDialog> dialog = openDialog();
    QTest::keyClicks(dialog->rulesBox(), "bad.toml");
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].title, "Error");
    EXPECT_EQ(answerer.boxes()[0].text, "bad.toml:1:1: broken");
    EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Critical);
    // The job runs with the good rules of the file: the choice stands.
    EXPECT_TRUE(dialog.isNull() || !dialog->isVisible());
    EXPECT_EQ(readChoicesFile(work.path() / "choices.conf")->rulesFile, "bad.toml");
}

TEST_F(SettingsDialogTest, ThreadsRunAgainAreSavedWithOkAndShownAfterAReopenAndARestart) {
    QPointer<SettingsDialog> dialog = openDialog();
    EXPECT_FALSE(dialog->rememberSavedBox()->isChecked());
    EXPECT_EQ(dialog->folderTemplateBox()->text(), "");
    EXPECT_EQ(dialog->nameTemplateBox()->text(), "");
    EXPECT_EQ(dialog->watchMinutesBox()->value(), 0);
    EXPECT_EQ(dialog->watchMinutesBox()->minimum(), 0);
    EXPECT_EQ(dialog->watchMinutesBox()->maximum(), 7 * 24 * 60);

    QTest::mouseClick(dialog->rememberSavedBox(), Qt::LeftButton);
    QTest::keyClicks(dialog->folderTemplateBox(), " {host}/{title} ");
    QTest::keyClicks(dialog->nameTemplateBox(), "{page:03}-{index:03}-{name}.{ext}");
    dialog->watchMinutesBox()->selectAll();
    QTest::keyClicks(dialog->watchMinutesBox(), "90");
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isNull() || !dialog->isVisible());
    EXPECT_TRUE(choices.rememberSaved);
    EXPECT_EQ(choices.folderTemplate, "{host}/{title}");
    EXPECT_EQ(choices.nameTemplate, "{page:03}-{index:03}-{name}.{ext}");
    EXPECT_EQ(choices.watchMinutes, 90);
    const std::string file = readFile(work.path() / "choices.conf");
    for (const char* line :
         {"remember-saved = true\n", "folder-template = {host}/{title}\n",
          "name-template = {page:03}-{index:03}-{name}.{ext}\n", "watch-minutes = 90\n"}) {
        EXPECT_NE(file.find(line), std::string::npos) << line;
    }
    delete dialog.data();

    // Opened again, and after a restart (which reads choices.conf), the rows show what was saved.
    const Choices saved = choices;
    for (const bool restart : {false, true}) {
        if (restart) choices = readChoicesFile(work.path() / "choices.conf").value_or(Choices{});
        EXPECT_EQ(choices, saved) << restart;
        dialog = openDialog();
        EXPECT_TRUE(dialog->rememberSavedBox()->isChecked()) << restart;
        EXPECT_EQ(dialog->folderTemplateBox()->text(), "{host}/{title}") << restart;
        EXPECT_EQ(dialog->nameTemplateBox()->text(), "{page:03}-{index:03}-{name}.{ext}")
            << restart;
        EXPECT_EQ(dialog->watchMinutesBox()->value(), 90) << restart;
        delete dialog.data();
    }

    // Emptied, the rows are back to what a first start has.
    dialog = openDialog();
    QTest::mouseClick(dialog->rememberSavedBox(), Qt::LeftButton);
    dialog->folderTemplateBox()->clear();
    dialog->nameTemplateBox()->setText("   ");
    dialog->watchMinutesBox()->setValue(0);
    QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    EXPECT_EQ(readChoicesFile(work.path() / "choices.conf").value_or(saved), Choices{});
}

TEST_F(SettingsDialogTest, TemplatesAreCheckedAtOkAndAProblemKeepsTheDialog) {
    struct Case {
        const char* folder;
        const char* name;
        bool folderRefused;  // else the file names are
    };
    const Case refused[] = {
        {"{nope}", "", true},
        {"/{title}", "", true},
        {"{host}/../up", "", true},
        {"{title", "", true},
        {"", "{index}/{name}", false},
        {"", "{name:03}", false},
        {"{host}", "{index:0}", false},
        // The first problem is said.
        {"{nope}", "{nope}", true},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(std::string(c.folder) + " | " + c.name);
        ModalAnswerer answerer;
        QPointer<SettingsDialog> dialog = openDialog();
        dialog->timeoutBox()->setText("45");
        dialog->rememberSavedBox()->click();
        dialog->folderTemplateBox()->setText(QString::fromUtf8(c.folder));
        dialog->nameTemplateBox()->setText(QString::fromUtf8(c.name));
        QTest::mouseClick(dialog->okButton(), Qt::LeftButton);

        std::string problem;
        EXPECT_FALSE(NameTemplate::parse(
            c.folderRefused ? c.folder : c.name,
            c.folderRefused ? NameTemplate::Kind::Folder : NameTemplate::Kind::FileName, problem));
        ASSERT_EQ(answerer.boxes().size(), 1u);
        EXPECT_EQ(answerer.boxes()[0].title, "Error");
        EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Critical);
        EXPECT_EQ(answerer.boxes()[0].text.toStdString(),
                  (c.folderRefused ? "Folder for each thread: " : "File names: ") + problem);
        // The dialog stays, at the box to mend, and nothing counts or is written.
        ASSERT_FALSE(dialog.isNull());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->focusWidget(),
                  c.folderRefused ? dialog->folderTemplateBox() : dialog->nameTemplateBox());
        EXPECT_EQ(settings.timeoutSeconds, 30);
        EXPECT_EQ(choices, Choices{});
        EXPECT_FALSE(fs::exists(work.path() / "settings.dat"));
        EXPECT_FALSE(fs::exists(work.path() / "choices.conf"));
        delete dialog.data();
    }
}

TEST_F(SettingsDialogTest, ForgettingTheSiteDataAsksFirstAndLeavesTheSettingsAlone) {
    ModalAnswerer answerer;
    QPointer<SettingsDialog> dialog = openDialog();
    QTest::mouseClick(dialog->forgetSiteDataButton(), Qt::LeftButton);  // No
    EXPECT_EQ(forgotten, 0);
    answerer.answerQuestionsWith(QMessageBox::Yes);
    QTest::mouseClick(dialog->forgetSiteDataButton(), Qt::LeftButton);
    EXPECT_EQ(forgotten, 1);
    ASSERT_EQ(answerer.boxes().size(), 2u);
    EXPECT_EQ(answerer.boxes()[1].title, "Settings");
    EXPECT_EQ(answerer.boxes()[1].text,
              "Delete every cookie and all site data of the browser?\n"
              "You will be logged out of every site.");
    EXPECT_EQ(answerer.boxes()[1].icon, QMessageBox::Question);
    // The dialog stays, and writes nothing.
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(fs::exists(work.path() / "settings.dat"));
    EXPECT_FALSE(fs::exists(work.path() / "choices.conf"));
    delete dialog.data();
}

TEST_F(SettingsDialogTest, BrowseForTheRulesFileFillsTheBoxOnly) {
    writeFile(work.path() / "found.toml", "");
    ModalAnswerer answerer;
    QString pickerTitle;
    answerer.onOtherDialog([&](QWidget* modal) {
        auto* picker = qobject_cast<QFileDialog*>(modal);
        if (picker == nullptr) return;
        pickerTitle = picker->windowTitle();
        // Typed into the name box: selectFile leaves a box that has the focus alone.
        auto* name = picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString((work.path() / "found.toml").string()));
        QMetaObject::invokeMethod(picker, "accept");
    });
    QPointer<SettingsDialog> dialog = openDialog();
    QTest::mouseClick(dialog->rulesBrowseButton(), Qt::LeftButton);
    EXPECT_EQ(pickerTitle, "Select Rules File");
    EXPECT_EQ(dialog->rulesBox()->text().toStdString(), (work.path() / "found.toml").string());
    EXPECT_EQ(choices.rulesFile, "");  // only OK makes it count
    delete dialog.data();
}

}  // namespace
}  // namespace velnoria
