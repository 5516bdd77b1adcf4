#pragma once

#include <QPushButton>

namespace qor {

// A push button whose caption breaks onto further lines, between any two
// letters, where the button is too narrow for it on one line.
class WrappingPushButton : public QPushButton {
  Q_OBJECT

 public:
  using QPushButton::QPushButton;

  // Where the caption is drawn, inside the button's bevel.
  QRect CaptionRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// How the caption of a wrapping button is laid out.
inline constexpr int kWrappingCaptionFlags = Qt::AlignCenter | Qt::TextWrapAnywhere;

}  // namespace qor
