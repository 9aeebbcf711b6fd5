// CAboutDlg: the launcher's about box, reached from the splash window's system menu.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace rovik::launcher {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  QLabel* Text() const { return m_text; }
  QPushButton* OkButton() const { return m_ok; }

 private:
  QLabel* m_text = nullptr;
  QPushButton* m_ok = nullptr;
};

}  // namespace rovik::launcher
