#include "uikit/rw_button.h"

#include "uikit/rw_memory_dc.h"

#include <QMouseEvent>
#include <QPainter>

namespace rovik::uikit {

CRWButton::CRWButton(QWidget* parent) : QAbstractButton(parent) { Init(); }

CRWButton::CRWButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
  setText(text);
  Init();
}

CRWButton::~CRWButton() = default;

void CRWButton::Init() {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setCursor(m_hCursor);
}

bool CRWButton::LoadStateImages(int normalId, int hoverId, int pressedId) {
  m_bUseImages = false;
  if (!LoadPngResource(m_imgPressed, pressedId)) return false;
  if (!LoadPngResource(m_imgNormal, normalId)) return false;
  if (!LoadPngResource(m_imgHover, hoverId)) return false;
  m_bUseImages = true;
  update();
  return true;
}

CRWButton::State CRWButton::DrawState() const {
  if (!isEnabled()) return State::Normal;
  if (isDown()) return State::Pressed;
  if (m_bHover) return State::Hover;
  return State::Normal;
}

void CRWButton::paintEvent(QPaintEvent*) {
  QPainter target(this);
  CRWMemoryDC dc(target, rect());
  QPainter& p = dc.painter();
  const QRect item = rect();

  QColor lastFill = m_clrBack;
  p.fillRect(item, m_clrBack);

  const State state = DrawState();
  const bool active = state != State::Normal;
  if (m_bFillMode && active) {
    p.fillRect(item, m_clrBackActive);
    lastFill = m_clrBackActive;
  }

  if (m_bUseImages) {
    const CImage& image = state == State::Pressed ? m_imgPressed
                          : state == State::Hover ? m_imgHover
                                                  : m_imgNormal;
    DrawImageCentred(p, image, item);
  }

  if (m_bShowText && !text().isEmpty()) {
    p.setFont(m_hFont ? *m_hFont : font());
    p.setPen(active ? m_clrTextActive : m_clrText);
    p.setBackgroundMode(Qt::OpaqueMode);
    p.setBackground(lastFill);
    // Opaque text on the colour of the last fill.
    p.drawText(item, Qt::AlignCenter | Qt::TextSingleLine, text());
  }
}

void CRWButton::TrackHover(const QPoint& pos) {
  setCursor(m_hCursor);
  if (!rect().contains(pos)) return;
  if (!m_bHover) {
    m_bHover = true;
    update();
  }
}

void CRWButton::mouseMoveEvent(QMouseEvent* event) {
  TrackHover(event->position().toPoint());
  QAbstractButton::mouseMoveEvent(event);
}

void CRWButton::leaveEvent(QEvent* event) {
  if (m_bHover) {
    m_bHover = false;
    update();
  }
  QAbstractButton::leaveEvent(event);
}

void CRWButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange && !isEnabled() && m_bHover) {
    // A disabled button gets no leave notification any more; it rests in the normal state.
    m_bHover = false;
    update();
  }
  QAbstractButton::changeEvent(event);
}

}  // namespace rovik::uikit
