#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionFrame>
#include <memory>
#include <vector>

#include "core/settings.h"
#include "platform/qt/qt_desktop.h"
#include "shell/about_dialog.h"
#include "shell/qt_status_view.h"
#include "shell/settings_dialog.h"
#include "tests/gui/gui_test_support.h"

namespace velnoria {
namespace {

using testing::guiApp;

// A control as designed, in twips.
struct Control {
    const char* name;
    int left, top, width, height;
    const char* caption;  // nullptr: not checked
    const char* toolTip;  // nullptr: none expected
};

// The names of the controls that Tab visits, in order, from the first one.
std::vector<QString> tabOrder(QWidget* first) {
    std::vector<QString> names;
    QWidget* widget = first;
    do {
        if (widget->focusPolicy() & Qt::TabFocus) names.push_back(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != first && names.size() < 50);
    return names;
}

void expectLayout(const QWidget& form, QSize clientTwips, std::initializer_list<Control> controls) {
    EXPECT_EQ(form.size(),
              QSize(qRound(clientTwips.width() / 15.0), qRound(clientTwips.height() / 15.0)));
    for (const Control& c : controls) {
        const auto* widget = form.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->geometry(), QRect(qRound(c.left / 15.0), qRound(c.top / 15.0),
                                            qRound(c.width / 15.0), qRound(c.height / 15.0)))
            << c.name;
        EXPECT_EQ(widget->toolTip(), QString::fromUtf8(c.toolTip ? c.toolTip : "")) << c.name;
        if (c.caption == nullptr) continue;
        QString caption;
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            caption = button->text();
        } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            caption = label->text();
        }
        EXPECT_EQ(caption, QString::fromUtf8(c.caption)) << c.name;
    }
}

constexpr const char* kFolderTip =
    "A folder below the save folder for each thread, e.g. {host}/{title}\n"
    "Fields: {title} {host} {page} {index} {name} {ext} {date}; empty: none";
constexpr const char* kNameTip =
    "The name of each file, e.g. {page:03}-{index:03}-{name}.{ext}\n"
    "Fields: {title} {host} {page} {index} {name} {ext} {date}; empty: the image's own name";

TEST(WindowLayout, SettingsDialog) {
    guiApp();
    Settings settings;
    Choices choices;
    QtMessageBox messageBox;
    SettingsDialog form(settings, choices, messageBox, "settings.dat");
    EXPECT_EQ(form.windowTitle(), "Settings");
    // The described controls in their places; the choices beside settings.dat below them.
    expectLayout(
        form, {5076, 9060},
        {{"timeoutLabel", 240, 360, 1692, 252, "Timeout (seconds)", nullptr},
         {"timeoutBox", 2160, 360, 852, 288, nullptr, nullptr},
         {"pieceSizeLabel", 240, 840, 1692, 252, "Piece size (bytes)",
          "Choose smaller value for slow connection and larger for faster"},
         {"pieceSizeBox", 2160, 840, 852, 288, nullptr, nullptr},
         {"folderLabel", 240, 1560, 2772, 252, "Select save folder", nullptr},
         // The whole folder is the box's tool tip.
         {"folderBox", 240, 1920, 2772, 288, nullptr, "CURDIR$\\images"},
         {"browse", 3240, 1920, 1332, 372, "&Browse", nullptr},
         {"ok", 2040, 2640, 972, 372, "&OK", nullptr},
         {"rulesLabel", 240, 3240, 2772, 252, "Rules file",
          "Host rules tried before the built-in ones (see docs/rules.md)"},
         {"rulesBox", 240, 3600, 2772, 288, nullptr, nullptr},
         {"rulesBrowse", 3240, 3600, 1332, 372, "B&rowse", nullptr},
         {"linkedImages", 240, 4080, 4596, 492,
          "&Also save full-size images that\nthumbnails link to", nullptr},
         {"followNextPages", 240, 4680, 4596, 300, "&Follow the thread's next pages", nullptr},
         {"skipExisting", 240, 5040, 4596, 300, "&Skip files already saved", nullptr},
         {"downloadsAtOnceLabel", 240, 5460, 1860, 252, "Downloads at once",
          "Images downloaded at the same time, at most 2 from one host"},
         {"downloadsAtOnce", 2160, 5400, 852, 372, nullptr, nullptr},
         {"rememberSaved", 240, 5880, 4596, 300, "Re&member what was saved",
          "Keep a list of the files saved (archive.sqlite beside settings.dat);\n"
          "later jobs skip them without a request"},
         {"folderTemplateLabel", 240, 6300, 2772, 252, "Fol&der for each thread", kFolderTip},
         {"folderTemplate", 240, 6660, 4332, 288, nullptr, kFolderTip},
         {"nameTemplateLabel", 240, 7080, 2772, 252, "File &names", kNameTip},
         {"nameTemplate", 240, 7440, 4332, 288, nullptr, kNameTip},
         {"watchMinutesLabel", 240, 7860, 2772, 492,
          "&Check the thread again every\nN minutes (0: never)",
          "After a job, read the thread again so many minutes later and save what is new,\n"
          "until Stop"},
         {"watchMinutes", 3240, 7920, 1092, 372, nullptr, nullptr},
         {"forgetSiteData", 240, 8520, 4596, 372, "Forget cookies and site data",
          "Log out of every site the browser is logged in to"}});
    EXPECT_EQ(tabOrder(form.timeoutBox()),
              (std::vector<QString>{"timeoutBox", "folderBox", "browse", "ok", "pieceSizeBox",
                                    "rulesBox", "rulesBrowse", "linkedImages", "followNextPages",
                                    "skipExisting", "downloadsAtOnce",
                                    "qt_spinbox_lineedit",  // the spin box's own text box
                                    "rememberSaved", "folderTemplate", "nameTemplate",
                                    "watchMinutes", "qt_spinbox_lineedit", "forgetSiteData"}));
    // The access keys reach the boxes their labels name.
    for (const char* name : {"folderTemplateLabel", "nameTemplateLabel", "watchMinutesLabel"}) {
        const auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr) << name;
        ASSERT_NE(label->buddy(), nullptr) << name;
        EXPECT_EQ(label->buddy()->objectName() + "Label", label->objectName());
    }
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

// The width a line edit has for its text, as it paints it: inside its frame, its text margins
// and the two pixels it keeps on either side.
int textRoom(const QLineEdit& box) {
    QStyleOptionFrame option;
    option.initFrom(&box);
    option.rect = box.rect();
    option.lineWidth =
        box.hasFrame() ? box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &box) : 0;
    const QRect contents = box.style()->subElementRect(QStyle::SE_LineEditContents, &option, &box);
    const QMargins margins = box.textMargins();
    return contents.width() - margins.left() - margins.right() - 2 * 2;
}

TEST(WindowLayout, SettingsShowTheirTextsWhole) {
    guiApp();
    Settings settings;
    Choices choices;
    QtMessageBox messageBox;
    SettingsDialog form(settings, choices, messageBox, "settings.dat");
    const QFontMetrics boxFont(form.timeoutBox()->font());
    for (const char* timeout : {"0", "30", "255", "300"}) {
        EXPECT_LE(boxFont.horizontalAdvance(QString::fromLatin1(timeout)),
                  textRoom(*form.timeoutBox()))
            << timeout;
    }
    EXPECT_LE(boxFont.horizontalAdvance(QStringLiteral("102400")), textRoom(*form.pieceSizeBox()));
    for (const char* name :
         {"timeoutLabel", "pieceSizeLabel", "folderLabel", "rulesLabel", "downloadsAtOnceLabel",
          "folderTemplateLabel", "nameTemplateLabel", "watchMinutesLabel"}) {
        const auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr) << name;
        const QFontMetrics metrics(label->font());
        // As painted: an access key's "&" takes no room.
        const QStringList lines =
            QString(label->text()).remove(QLatin1Char('&')).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            EXPECT_LE(metrics.horizontalAdvance(line), label->contentsRect().width()) << name;
        }
        EXPECT_LE(lines.size() * metrics.lineSpacing(), label->contentsRect().height()) << name;
    }
    for (const char* name : {"linkedImages", "followNextPages", "skipExisting", "rememberSaved"}) {
        const auto* box = form.findChild<QCheckBox*>(QString::fromLatin1(name));
        ASSERT_NE(box, nullptr) << name;
        EXPECT_LE(box->sizeHint().width(), box->width()) << name;
    }
    // The longest wait, a week in minutes, shows whole.
    const auto* watch = form.findChild<QSpinBox*>(QStringLiteral("watchMinutes"));
    ASSERT_NE(watch, nullptr);
    EXPECT_LE(watch->sizeHint().width(), watch->width());
}

TEST(WindowLayout, AboutDialog) {
    guiApp();
    QtShell shell;
    AboutDialog form(shell);
    EXPECT_EQ(form.windowTitle(), "About");
    expectLayout(form, {4980, 3072},
                 {{"text", 120, 120, 4692, 2052, nullptr, nullptr},
                  {"ok", 120, 2520, 1572, 492, "&Ok", nullptr},
                  {"homepage", 3000, 2520, 1812, 492, "&Visit homepage", nullptr}});
    EXPECT_EQ(form.text()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(form.text()->isReadOnly());
    EXPECT_EQ(tabOrder(form.text()), (std::vector<QString>{"text", "ok", "homepage"}));
}

TEST(WindowLayout, StatusWindow) {
    guiApp();
    QWidget owner;
    QtStatusView::Window form(
        &owner, [] {}, [] {});
    EXPECT_EQ(form.windowTitle(), "Download status");
    expectLayout(form, {7368, 4608},
                 {{"log", 840, 240, 5172, 2052, nullptr, nullptr},
                  {"counter", 840, 2640, 5172, 372, nullptr, nullptr},
                  {"progressBar", 840, 3240, 5172, 492, nullptr, nullptr},
                  {"pause", 840, 4080, 1452, 372, "&Pause", nullptr},
                  {"stop", 4560, 4080, 1452, 372, "&Stop/Abort", nullptr}});
    EXPECT_EQ(form.palette().color(QPalette::Window), QColor(128, 128, 128));
    EXPECT_EQ(form.log()->palette().color(QPalette::Base), QColor(255, 255, 128));
    EXPECT_EQ(tabOrder(form.progressBar()),
              (std::vector<QString>{"progressBar", "log", "pause", "stop"}));
}

}  // namespace
}  // namespace velnoria
