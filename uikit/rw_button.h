// CRWButton: the suite's owner-drawn button with state pictures, fill and text colours.
#pragma once

#include "uikit/png_image.h"

#include <QAbstractButton>
#include <QColor>
#include <QCursor>
#include <QFont>

#include <optional>

namespace rovik::uikit {

class CRWButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit CRWButton(QWidget* parent = nullptr);
  CRWButton(const QString& text, QWidget* parent);
  ~CRWButton() override;

  // Loads the state pictures in the order pressed, normal, hover, stopping at the first failure.
  // Pictures are drawn only when all three loaded.
  bool LoadStateImages(int normalId, int hoverId, int pressedId);

  enum class State { Normal, Hover, Pressed };
  // The state the next paint draws: pressed while held down, hover while the mouse is over it,
  // otherwise normal; a disabled button is always normal.
  State DrawState() const;

  // Set by the owning window after creating the button.
  CImage m_imgNormal;
  CImage m_imgHover;
  CImage m_imgPressed;
  bool m_bFillMode = false;
  bool m_bHover = false;
  bool m_bUseImages = false;
  bool m_bShowText = false;
  QColor m_clrBack{250, 250, 250};
  QColor m_clrBackActive{250, 250, 250};
  QColor m_clrText{98, 98, 98};
  QColor m_clrTextActive{243, 253, 253};
  std::optional<QFont> m_hFont;
  QCursor m_hCursor{Qt::PointingHandCursor};

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Init();
  void TrackHover(const QPoint& pos);
};

}  // namespace rovik::uikit
