// CDlgAutoRun: the small borderless prompt that offers to start the monitor at logon.
// "准！" ends it with Accepted, "算了，不关心" with Rejected; so do Enter and Escape.
#pragma once

#include "uikit/png_image.h"
#include "uikit/rw_button.h"

#include <QDialog>
#include <QFont>

namespace rovik::alarm {

class CDlgAutoRun : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgAutoRun(QWidget* parent = nullptr);

  uikit::CRWButton& AgreeButton() { return *m_btnAgree; }
  uikit::CRWButton& DeclineButton() { return *m_btnDecline; }
  void SetFonts(const QFont& normal12, const QFont& bold12);

  static constexpr int kAgreeId = 1021;
  static constexpr int kDeclineId = 1022;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Layout();
  uikit::CRWButton* m_btnAgree;
  uikit::CRWButton* m_btnDecline;
  uikit::CImage m_imgTitle;
  QFont m_fontNormal12;
  QFont m_fontBold12;
};

}  // namespace rovik::alarm
