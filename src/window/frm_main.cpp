#include "window/frm_main.h"

namespace qor {

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
  setWindowTitle("Sorvane");
}

}  // namespace qor
