#include "window/qt/message_display.h"

#include "window/qt/byte_text.h"

namespace qor {

MessageRequest MakeMessageRequest(const std::string& prompt, const std::string& title,
                                  MessageButtons buttons) {
  MessageRequest request;
  // Prompts carry paths, which are byte strings as the file system has them.
  request.text = DecodeBytes(prompt);
  request.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  request.title = DecodeBytes(title);
  request.buttons = buttons;
  return request;
}

MessageAnswer MessageDisplay::Show(QWidget* parent, const MessageRequest& request) {
  QMessageBox box(parent);
  box.setWindowTitle(request.title);
  box.setText(request.text);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if (request.buttons == MessageButtons::YesNo) {
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
  }
  open_box_ = &box;
  const int result = box.exec();
  open_box_ = nullptr;
  if (request.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
  return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

void MessageDisplay::DismissOpen() {
  if (open_box_) open_box_->done(QMessageBox::No);
}

}  // namespace qor
