#include "tests/broadcaster/window/broadcaster_test_support.h"


namespace broadcaster_testing {

void ScriptedDialog::install(CommonDialog &dialog) {
  dialog.setChooser([this](CommonDialog::Mode mode, const QString &filter, const QString &current,
                           CommonDialog::Answer answer) {
    ++shown_;
    last_filter_ = filter;
    last_current_ = current;
    last_mode_ = mode;
    pending_ = std::move(answer);
  });
}

void ScriptedDialog::choose(const QString &path) {
  ASSERT_TRUE(isOpen()) << "no dialog is open";
  const CommonDialog::Answer answer = std::move(pending_);
  pending_ = nullptr;
  answer(path);
}

QLabel *statsLabel(const MainWindow &window, int index) {
  for (QLabel *label : window.findChildren<QLabel *>(QStringLiteral("lblStats"))) {
    if (label->property("Index").toInt() == index) {
      return label;
    }
  }
  return nullptr;
}

} // namespace broadcaster_testing
