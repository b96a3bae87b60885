// A window for batch-run tests: it answers with a fixed source text and
// caption and records every call in order, as a line of text.
#pragma once

#include <string>
#include <vector>

#include "core/batch_run.h"

namespace pellamar::testing {

class RecordingWindow : public WindowOperations {
 public:
  explicit RecordingWindow(std::string source_text) : source_text_(std::move(source_text)) {}

  std::string SourceText() override {
    calls.push_back("read source");
    return source_text_;
  }
  void btnSource_Click() override { calls.push_back("btnSource_Click"); }
  void SetLabel3Caption(const std::string& caption) override {
    calls.push_back("Label3: " + caption);
  }
  void RepaintNow() override { calls.push_back("repaint"); }
  std::string Caption() override {
    calls.push_back("read caption");
    return "Pellamar [Batch Conversion]";
  }
  void ShowMessageBox(const std::string& text, int style, const std::string& title) override {
    calls.push_back("message " + std::to_string(style) + " [" + title + "]: " + text);
  }

  std::vector<std::string> calls;

 private:
  std::string source_text_;
};

}  // namespace pellamar::testing
