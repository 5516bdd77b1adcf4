#include "window/qt/tristate_check_box.h"

namespace qor {

TristateCheckBox::TristateCheckBox(QWidget* parent) : QCheckBox(parent) {
  setTristate(true);
}

int TristateCheckBox::Value() const {
  switch (checkState()) {
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
    case Qt::Unchecked:
      break;
  }
  return 0;
}

void TristateCheckBox::SetValue(int value) {
  setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void TristateCheckBox::nextCheckState() {
  // A click on a ticked or greyed box clears it, on a clear box ticks it.
  setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace qor
