#include "broadcaster_test_support.h"


namespace broadcaster_testing {

void ScriptedDialog::install(MainWindow &window) {
  window.commonDialog().setChooser([this](CommonDialog::Mode mode, const QString &filter, const QString &current) {
    ++shown_;
    last_filter_ = filter;
    last_current_ = current;
    last_mode_ = mode;
    if (answers_.empty()) {
      return QString();
    }
    const QString answer = answers_.front();
    answers_.pop_front();
    return answer;
  });
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
