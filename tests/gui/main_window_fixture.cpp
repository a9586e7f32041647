#include "tests/gui/main_window_fixture.h"

#include <QTest>

namespace velnoria::testing {

void MainWindowTest::go(const std::string& address) {
    addressBox()->clear();
    QTest::keyClicks(addressBox(), QString::fromStdString(address));
    QTest::mouseClick(button("go"), Qt::LeftButton);
}

std::string pageWithImages(const std::vector<std::string>& sources) {
    std::string page = "<html><head><title>thread</title></head><body><p>Thread</p>\n";
    for (const std::string& source : sources) {
        page += "<a href=\"" + source + "\"><img src=\"" + source + "\" width=40 height=30></a>\n";
    }
    return page + "</body></html>\n";
}

}  // namespace velnoria::testing
