// CRovikAlarmDlg: the monitor's main dialog. It is never shown: its modal run is the program's
// life, and its initialisation creates the alarm popup, the monitor's message endpoint.
#pragma once

#include <QEventLoop>
#include <QIcon>
#include <QWidget>
#include <functional>
#include <memory>

#include "alarm/app/dlg_operator.h"

namespace rovik::alarm {

class CRovikAlarmDlg : public QWidget {
  Q_OBJECT
 public:
  using OperatorFactory = std::function<std::unique_ptr<CDlgOperator>(CRovikAlarmDlg* parent)>;

  // `makeOperator` empty: a CDlgOperator over the process's store and push channel.
  explicit CRovikAlarmDlg(QWidget* parent = nullptr, OperatorFactory makeOperator = {});
  // The window goes, and with it the popup and its push channel.
  ~CRovikAlarmDlg() override;

  // Runs the dialog modally, hidden: OnInitDialog, then a local event loop until a quit
  // (command 0, QCoreApplication::exit) or EndDialog. Returns the end code.
  int DoModal();
  void EndDialog(int result);

  CDlgOperator* Operator() const { return operator_.get(); }

  // The shared block handed to the popup for the alarm list.
  void SetSharedBlock(void* block, std::size_t size);

 protected:
  // Hides the dialog (no taskbar entry, zero size) and creates the popup.
  bool OnInitDialog();
  void paintEvent(QPaintEvent* event) override;

 private:
  OperatorFactory makeOperator_;
  std::unique_ptr<CDlgOperator> operator_;
  QIcon icon_;
  QEventLoop* loop_ = nullptr;  // the modal run in progress
  int result_ = 0;
  void* sharedBlock_ = nullptr;
  std::size_t sharedSize_ = 0;
};

}  // namespace rovik::alarm
