// Helpers of the tests that need a Qt application object and its event loop.
#pragma once

#include <QCoreApplication>

#include "support/TestSupport.h"

namespace quenda::test {

// A Qt application object (QCoreApplication, QGuiApplication, ...) for the life of a test.
template <class Application>
class ScopedQtApplication {
  public:
    Application& get() { return application_; }

  private:
    int argc_ = 1;
    char name_[12] = "quenda-test";
    char* argv_[2] = {name_, nullptr};
    Application application_{argc_, argv_};
};

// Serves this thread's Qt events until `condition` holds or `timeout` passes.
inline bool processEventsUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return waitUntil(condition, timeout,
                     [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}

}  // namespace quenda::test
