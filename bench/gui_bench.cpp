// Measures what the Qt window costs (offscreen platform):
//
//   pellamar_gui_bench [--cards N] [--size BYTES] [--rounds R] [--dir FOLDER]
//
// 1. From process start to the window's first paint: the benchmark starts
//    itself as a child that shows the window and reports its first paint
//    event, R times, and prints the median.
// 2. "Convert" of N cards through the window, its repaint after every card
//    included, against the core run alone on the same cards, R times, the
//    two taking turns folder by folder; it prints the medians and their
//    ratio against its goal. Every count must reach a paint of the label
//    before the next card starts.
//
// It fails when the window never paints, a run fails, a count is not
// painted, or the ratio misses its goal.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_support.h"
#include "core/batch_run.h"
#include "ui/qt/desktop_calls.h"
#include "ui/qt/frm_pellamar.h"

extern char** environ;

namespace {

using namespace pellamar::bench;
constexpr char kChildFlag[] = "--first-paint-child";
// "Convert" through the window against the core run alone.
constexpr double kWindowGoal = 1.25;

// The desktop with its message boxes answered at once; keeps their texts.
class AnsweringDesktop : public pellamar::ui::QtDesktopCalls {
 public:
  void ShowMessage(QWidget& /*owner*/, const QString& text, QMessageBox::Icon /*icon*/,
                   const QString& /*title*/) override {
    messages.append(text);
  }
  QStringList messages;
};

// Writes one byte to standard output at the window's first paint, then ends
// the process at once.
class FirstPaintReporter : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const char done = '!';
      if (write(STDOUT_FILENO, &done, 1) == 1) _exit(0);
      _exit(1);
    }
    return QObject::eventFilter(watched, event);
  }
};

// Counts the counts a label paints: "1 Processed.", then "2 Processed.",
// and so on, each before the next one is set.
class CountPaints : public QObject {
 public:
  explicit CountPaints(QLabel* label) : label_(label) { label_->installEventFilter(this); }
  void Restart() { painted_ = 0; }
  int painted() const { return painted_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint &&
        label_->text() == QString::number(painted_ + 1) + " Processed.") {
      ++painted_;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QLabel* label_;
  int painted_ = 0;
};

int ShowWindowUntilFirstPaint(int argc, char** argv) {
  QApplication app(argc, argv);
  FirstPaintReporter reporter;
  app.installEventFilter(&reporter);
  const std::unique_ptr<pellamar::FileSystem> fs = pellamar::NewPlatformFileSystem();
  pellamar::ui::frmPellamar window(pellamar::ui::SystemDesktopCalls(), *fs);
  window.show();
  return app.exec();
}

// Seconds from spawning the child to its report of the first paint.
double TimeToFirstPaint(const char* self) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  char* child_argv[] = {const_cast<char*>(self), const_cast<char*>(kChildFlag), nullptr};

  const Clock::time_point start = Clock::now();
  pid_t child = 0;
  const int spawned = posix_spawn(&child, self, &actions, nullptr, child_argv, environ);
  close(pipe_ends[1]);
  char report = 0;
  const bool painted = spawned == 0 && read(pipe_ends[0], &report, 1) == 1;
  const double seconds = SecondsSince(start);
  close(pipe_ends[0]);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned == 0) waitpid(child, &status, 0);
  return painted && report == '!' ? seconds : -1;
}

bool MeasureFirstPaint(const char* self, const Options& options) {
  std::vector<double> seconds;
  for (int round = 0; round < options.rounds; ++round) {
    seconds.push_back(TimeToFirstPaint(self));
    if (seconds.back() < 0) {
      std::fprintf(stderr, "the window never painted\n");
      return false;
    }
  }
  std::printf("start to first paint  median %.1f ms\n", Median(seconds) * 1000);
  return true;
}

enum Pass { kWindow, kCore, kPasses };

// The seconds of "Convert" of one slice through the window; -1, saying why,
// when it failed or a count was not painted.
double ConvertThroughWindow(pellamar::ui::frmPellamar& window, AnsweringDesktop& desktop,
                            CountPaints& paints, const CardFolder& folder, int slice) {
  window.findChild<QLineEdit*>("txtSource")
      ->setText(QString::fromStdString(folder.SourceText(slice)));
  desktop.messages.clear();
  paints.Restart();
  const auto start = Clock::now();
  window.btnStart_Click();
  const double seconds = SecondsSince(start);
  const int cards = folder.CardsIn(slice);
  if (desktop.messages != QStringList{QString::number(cards) + " Files Processed"}) {
    std::fprintf(stderr, "the run through the window failed\n");
    return -1;
  }
  if (paints.painted() != cards) {
    std::fprintf(stderr, "the window painted %d of %d counts in order\n", paints.painted(), cards);
    return -1;
  }
  return seconds;
}

// The seconds of the core run alone over one slice; -1 when it failed.
double ConvertInCore(pellamar::FileSystem& file_system, const CardFolder& folder, int slice) {
  SilentWindow silent(folder.SourceText(slice));
  const auto start = Clock::now();
  const pellamar::BatchReport report = pellamar::btnStart_Click(silent, file_system);
  const double seconds = SecondsSince(start);
  return report.processed == folder.CardsIn(slice) ? seconds : -1;
}

// The window and the core alone take turns, as the batch benchmark's
// passes do.
bool MeasureConvert(const Options& options) {
  const CardFolder folder(options);
  std::unique_ptr<pellamar::FileSystem> file_system = pellamar::NewPlatformFileSystem();
  AnsweringDesktop desktop;
  pellamar::ui::frmPellamar window(desktop, *file_system);
  window.show();
  QApplication::processEvents();
  CountPaints paints(window.findChild<QLabel*>("Label3"));

  const std::vector<double> seconds =
      MediansInTurns(folder, options.rounds, kPasses, [&](int pass, int slice) {
        return pass == kWindow ? ConvertThroughWindow(window, desktop, paints, folder, slice)
                               : ConvertInCore(*file_system, folder, slice);
      });
  if (seconds.empty()) return false;
  PrintRate("window", seconds[kWindow], options);
  PrintRate("core", seconds[kCore], options);
  std::printf("every count painted: %d\n", options.cards);
  return PrintRatio("window/core", seconds[kWindow] / seconds[kCore], kWindowGoal);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc == 2 && std::strcmp(argv[1], kChildFlag) == 0) {
    return ShowWindowUntilFirstPaint(argc, argv);
  }
  Options options;
  if (!ParseOptions(argc, argv, 1, &options)) {
    PrintUsage(argv[0]);
    return 2;
  }
  std::printf("%d cards of %zu bytes, %d rounds, offscreen\n", options.cards, options.size,
              options.rounds);
  if (!MeasureFirstPaint(argv[0], options)) return 1;
  QApplication app(argc, argv);
  return MeasureConvert(options) ? 0 : 1;
}
