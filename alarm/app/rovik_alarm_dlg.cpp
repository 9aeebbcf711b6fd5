#include "alarm/app/rovik_alarm_dlg.h"

#include <QPainter>

namespace rovik::alarm {

CRovikAlarmDlg::CRovikAlarmDlg(QWidget* parent, OperatorFactory makeOperator)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), makeOperator_(std::move(makeOperator)) {
  setAttribute(Qt::WA_DontShowOnScreen);
}

CRovikAlarmDlg::~CRovikAlarmDlg() {
  // The popup's own destruction closes the endpoint and stops the push channel.
  operator_.reset();
}

void CRovikAlarmDlg::SetSharedBlock(void* block, std::size_t size) {
  sharedBlock_ = block;
  sharedSize_ = size;
  if (operator_) operator_->SetSharedBlock(block, size);
}

bool CRovikAlarmDlg::OnInitDialog() {
  setWindowIcon(icon_);
  setGeometry(0, 0, 0, 0);
  hide();
  operator_ = makeOperator_ ? makeOperator_(this) : std::make_unique<CDlgOperator>(this);
  if (operator_) {
    operator_->SetSharedBlock(sharedBlock_, sharedSize_);
    operator_->Create();
  }
  return true;
}

int CRovikAlarmDlg::DoModal() {
  OnInitDialog();
  QEventLoop loop;
  loop_ = &loop;
  result_ = loop.exec();
  loop_ = nullptr;
  return result_;
}

void CRovikAlarmDlg::EndDialog(int result) {
  result_ = result;
  if (loop_) loop_->exit(result);
}

void CRovikAlarmDlg::paintEvent(QPaintEvent*) {
  // Never on screen; when it is painted at all, the icon is centred in its client area.
  QPainter painter(this);
  const QSize size(16, 16);
  icon_.paint(&painter,
              QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size));
}

}  // namespace rovik::alarm
