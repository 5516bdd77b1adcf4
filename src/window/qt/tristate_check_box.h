#pragma once

#include <QCheckBox>

namespace qor {

// A check box with three values (0 unchecked, 1 checked, 2 greyed) of which
// the user's click reaches only the first two; the greyed state is for code.
class TristateCheckBox : public QCheckBox {
  Q_OBJECT

 public:
  explicit TristateCheckBox(QWidget* parent = nullptr);

  int Value() const;
  // Any value but 1 and 2 clears the box.
  void SetValue(int value);

 protected:
  void nextCheckState() override;
};

}  // namespace qor
