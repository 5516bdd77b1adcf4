#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "window/form_view.h"

namespace qor::test {

// Folder texts end with the system's own separator, as the checks leave them.
inline const std::string kSep(1, platform::kSeparator);

// A window without a toolkit: it keeps each control's state, records what
// the form shows and delivers the user's actions as a toolkit would.
class FakeView : public FormView {
 public:
  struct ControlState {
    std::string text;
    int value = 0;
    bool enabled = true;
    bool read_only = false;
  };
  struct Message {
    std::string prompt;
    std::string title;
    MessageButtons buttons;
  };

  FakeView() {
    State(Control::btnGo).text = "GO";
    for (int index = 0; index < 3; ++index) State(CounterLabel(index)).text = "0";
    State(Control::optEqual0).value = 1;
  }

  ControlState& State(Control control) { return controls_.at(static_cast<std::size_t>(control)); }

  // The user's click: ignored on a disabled control, as a toolkit does.
  void Click(Control control) {
    if (!State(control).enabled || events_ == nullptr) return;
    switch (control) {
      case Control::btnGo:
        return events_->btnGo_Click();
      case Control::Command1:
        return events_->Command1_Click();
      case Control::optEqual0:
      case Control::optEqual1:
      case Control::optEqual2:
        SetValue(control, 1);
        return events_->optEqual_Click(static_cast<int>(control) -
                                       static_cast<int>(Control::optEqual0));
      case Control::chkrekurse:
      case Control::chkAddDateTarget:
      case Control::chkDelFolderMove:
        return SetValue(control, State(control).value == 0 ? 1 : 0);
      default:
        return;
    }
  }

  // A close request as a toolkit passes it on to the form.
  bool RequestClose(CloseReason reason) {
    if (closing_) return true;
    if (events_ != nullptr && events_->Form_QueryUnload(reason)) return false;
    closing_ = true;
    if (events_ != nullptr) events_->Form_Unload();
    return true;
  }

  void Tick() {
    if (events_ != nullptr && timer_running) events_->Timer1_Timer();
  }

  // FormView
  void SetEvents(FormEvents* events) override { events_ = events; }
  std::string Text(Control control) override { return State(control).text; }
  void SetText(Control control, const std::string& text) override { State(control).text = text; }
  int Value(Control control) override { return State(control).value; }
  void SetValue(Control control, int value) override {
    ControlState& state = State(control);
    if (state.value == value) return;
    state.value = value;
    if (events_ == nullptr) return;
    if (control == Control::chkrekurse) events_->chkrekurse_Click();
    if (control == Control::chkDelFolderMove) events_->chkDelFolderMove_Click();
    if (value == 1 && control >= Control::optEqual0 && control <= Control::optEqual2) {
      for (int index = 0; index < 3; ++index) {
        if (OptionButton(index) != control) State(OptionButton(index)).value = 0;
      }
    }
  }
  void SetEnabled(Control control, bool enabled) override { State(control).enabled = enabled; }
  void SetReadOnly(Control control, bool read_only) override {
    State(control).read_only = read_only;
  }
  void SetFocus(Control control) override { focus = control; }
  void ShowWindow() override { shown = true; }
  void SetIcon(int frame) override { icons.push_back(frame); }
  MessageAnswer ShowMessage(const std::string& prompt, const std::string& title,
                            MessageButtons buttons) override {
    messages.push_back({prompt, title, buttons});
    if (answer) return answer(messages.back());
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
  void StartTimer(int milliseconds) override {
    timer_running = true;
    timer_interval = milliseconds;
  }
  void StopTimer() override {
    timer_running = false;
    timer_interval = 0;
  }
  void DoEvents() override {
    ++yields;
    if (on_events) on_events();
  }
  bool IsClosing() override { return closing_; }

  int Icon() const { return icons.empty() ? 0 : icons.back(); }

  std::vector<Message> messages;
  // Answers each message; without it OK boxes get OK and Yes/No boxes No.
  std::function<MessageAnswer(const Message&)> answer;
  // The events that wait when the form yields.
  std::function<void()> on_events;
  std::vector<int> icons;
  bool timer_running = false;
  int timer_interval = 0;
  int yields = 0;
  bool shown = false;
  std::optional<Control> focus;

 private:
  std::array<ControlState, kControlCount> controls_{};
  FormEvents* events_ = nullptr;
  bool closing_ = false;
};

}  // namespace qor::test
