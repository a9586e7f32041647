#include "platform/qt/qt_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace velnoria {

void QtEventLoop::yieldOnce(std::chrono::milliseconds maxBlock) {
    if (maxBlock.count() <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    // The timer is what wakes the wait when nothing else happens.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(maxBlock);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace velnoria
