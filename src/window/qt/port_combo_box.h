#pragma once
// The port list: a drop-down list that lets the window re-scan the ports just before it opens,
// so an adapter plugged in a moment ago is there when the user looks.
#include <QComboBox>
#include <functional>
#include <utility>

namespace kestal::window::qt {

class PortComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;

  void SetBeforePopup(std::function<void()> hook) { beforePopup_ = std::move(hook); }
  void showPopup() override {
    if (beforePopup_) beforePopup_();
    QComboBox::showPopup();
  }

 private:
  std::function<void()> beforePopup_;
};

}  // namespace kestal::window::qt
