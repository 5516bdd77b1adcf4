#pragma once

#include <QWidget>

namespace qor {

// The program's only window.
class frmMain : public QWidget {
  Q_OBJECT

 public:
  explicit frmMain(QWidget* parent = nullptr);
};

}  // namespace qor
