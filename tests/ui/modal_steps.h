// Acting on modal dialogs from inside the loops that show them: a test
// queues a step, then makes the call that opens the dialog; the step runs
// once the dialog is up, and must close it.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QTimer>
#include <functional>

namespace pellamar::testing {

// Runs `step` once, on the next modal widget of type T to come up.
template <typename T>
void WhenModal(std::function<void(T*)> step) {
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, step = std::move(step)] {
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (modal == nullptr || !modal->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    step(modal);
  });
  timer->start();
}

// Closes every modal dialog still up once a test has run for `seconds`, so
// that a dialog no step answers fails the test instead of hanging it.
class ModalRescue {
 public:
  explicit ModalRescue(int seconds) : deadline_(seconds * 1000) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Rescue(); });
    timer_.start(100);
  }
  bool rescued() const { return rescued_; }

 private:
  void Rescue() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !deadline_.hasExpired()) return;
    rescued_ = true;
    dialog->reject();
  }

  QDeadlineTimer deadline_;
  QTimer timer_;
  bool rescued_ = false;
};

}  // namespace pellamar::testing
