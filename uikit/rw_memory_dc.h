// Flicker-free drawing: everything is painted into an off-screen picture of one rectangle and
// copied to the target in one block when the surface goes out of scope.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

#include <optional>

namespace rovik::uikit {

class CRWMemoryDC {
 public:
  // Starts buffered drawing of `rect` (in the target's coordinates; an empty rectangle means the
  // target's clip box, or the whole device without clipping). A printer target is drawn on
  // directly. Nothing is cleared: the owner paints every pixel.
  CRWMemoryDC(QPainter& target, const QRect& rect = QRect());
  ~CRWMemoryDC();

  CRWMemoryDC(const CRWMemoryDC&) = delete;
  CRWMemoryDC& operator=(const CRWMemoryDC&) = delete;

  // The surface to draw on, in the target's coordinates.
  QPainter& painter() { return *m_active; }
  QPainter* operator->() { return m_active; }
  const QRect& rect() const { return m_rect; }
  bool buffered() const { return m_memory.has_value(); }

 private:
  QPainter& m_target;
  QRect m_rect;
  QImage m_bitmap;
  std::optional<QPainter> m_memory;
  QPainter* m_active;
};

}  // namespace rovik::uikit
