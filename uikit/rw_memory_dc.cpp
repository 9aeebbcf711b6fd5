#include "uikit/rw_memory_dc.h"

#include <QPaintDevice>

namespace rovik::uikit {

namespace {

QRect TargetArea(QPainter& target, const QRect& rect) {
  if (!rect.isEmpty()) return rect;
  if (target.hasClipping()) return target.clipBoundingRect().toAlignedRect();
  const QPaintDevice* device = target.device();
  return device ? QRect(0, 0, device->width(), device->height()) : QRect();
}

}  // namespace

CRWMemoryDC::CRWMemoryDC(QPainter& target, const QRect& rect)
    : m_target(target), m_rect(TargetArea(target, rect)), m_active(&target) {
  const QPaintDevice* device = target.device();
  if (!device || device->devType() == QInternal::Printer || m_rect.isEmpty()) return;
  const qreal ratio = device->devicePixelRatioF();
  m_bitmap = QImage(m_rect.size() * ratio, QImage::Format_RGB32);
  m_bitmap.setDevicePixelRatio(ratio);
  m_memory.emplace(&m_bitmap);
  // The caller draws in the target's coordinates.
  m_memory->translate(-m_rect.topLeft());
  m_memory->setFont(target.font());
  m_active = &*m_memory;
}

CRWMemoryDC::~CRWMemoryDC() {
  if (!m_memory) return;
  m_memory->end();
  const QPainter::CompositionMode mode = m_target.compositionMode();
  m_target.setCompositionMode(QPainter::CompositionMode_Source);
  m_target.drawImage(m_rect.topLeft(), m_bitmap);
  m_target.setCompositionMode(mode);
}

}  // namespace rovik::uikit
