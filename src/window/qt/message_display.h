#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <functional>

#include "core/message_box.h"

class QWidget;

namespace qor {

// A message as the user will see it: line breaks made, title decided.
struct MessageRequest {
  QString text;
  QString title;
  MessageButtons buttons = MessageButtons::Ok;
};

// Shows a request in a modal box and returns the answer. Tests put their own
// in its place to read and answer messages without a modal loop.
using MessagePresenter = std::function<MessageAnswer(const MessageRequest&)>;

// Turns a prompt of the program's logic (CR LF line breaks, byte string) and
// its title into what the box shows.
MessageRequest MakeMessageRequest(const std::string& prompt, const std::string& title,
                                  MessageButtons buttons);

// The modal message boxes of the window. Keeps track of the open box so that
// closing the window during a run can take it away.
class MessageDisplay {
 public:
  MessageAnswer Show(QWidget* parent, const MessageRequest& request);
  // Takes the open box away, if any; its Show returns the "no" answer.
  void DismissOpen();

 private:
  QPointer<QMessageBox> open_box_;
};

}  // namespace qor
