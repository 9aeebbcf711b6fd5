#include "launcher/app/rovik_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>

#include "launcher/app/about_dlg.h"
#include "launcher/upgrade/upgrade_install.h"
#include "platform/module_path.h"
#include "uikit/gdi_font.h"
#include "uikit/rw_memory_dc.h"

using namespace rovik::uikit;

namespace rovik::launcher {

namespace {

constexpr int kSplashPicture = 150;
const QColor kClientColour(251, 251, 251);
const QColor kBandColour(21, 125, 214);
const QColor kStatusColour(68, 68, 68);

QString OwnFolder() {
  const QString folder = QString::fromStdString(platform::ProgramFolder());
  return folder.isEmpty() ? QString() : folder + QLatin1Char('/');
}

}  // namespace

CRovikDlg::CRovikDlg(const QString& appDir, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint),
      m_szAppDir(appDir) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted; nothing is erased first
  setAttribute(Qt::WA_NoSystemBackground);
  m_timerClose.setSingleShot(false);
  connect(&m_timerProgress, &QTimer::timeout, this, [this] { OnTimer(kTimerProgress); });
  connect(&m_timerClose, &QTimer::timeout, this, [this] { OnTimer(kTimerClose); });
  OnInitDialog();
}

CRovikDlg::~CRovikDlg() {
  // The worker may be waiting for a repaint of this window: stop it before anything goes.
  m_worker.reset();
}

void CRovikDlg::OnInitDialog() {
  // The about entry of the system menu.
  m_systemMenu.addSeparator();
  QAction* about = m_systemMenu.addAction(QStringLiteral("关于 Rovik(&A)..."));
  connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
  setWindowIcon(QIcon(QStringLiteral(":/ICON/128")));
  setWindowTitle(QStringLiteral("Rovik"));

  setFixedSize(kWidth, kHeight);
  UpdateStatusRect(size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - kWidth) / 2, area.y() + (area.height() - kHeight) / 2);
  }

  if (m_szAppDir.isEmpty()) {
    m_szAppDir = OwnFolder();
  } else if (!m_szAppDir.endsWith(QLatin1Char('/'))) {
    m_szAppDir += QLatin1Char('/');
  }
  LoadPngResource(m_imgSplash, kSplashPicture);

  m_brBack = QBrush(QColor(243, 243, 243));
  m_brBar = QBrush(QColor(0, 181, 115));
  m_fontStatus = CreateGdiFont(QStringLiteral("宋体"), 14, 400);

  CreateFolders();
  m_workerOptions.appDir = m_szAppDir;
}

void CRovikDlg::CreateFolders() {
  if (!m_szAppDir.isEmpty()) {
    CreateInstallFolders(QFile::encodeName(m_szAppDir).toStdString());
  }
}

void CRovikDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_bInitialised) {
    return;
  }
  m_bInitialised = true;
  m_windowHandle = static_cast<uint64_t>(winId());
  m_worker = std::make_unique<UpgradeWorker>(*this, m_workerOptions);
  m_worker->Start();
}

bool CRovikDlg::WorkerRunning() const { return m_worker && !m_worker->Finished(); }

bool CRovikDlg::UpgradeLeftPending() const { return m_worker && m_worker->LeftPending(); }

CRovikDlg::Display CRovikDlg::CurrentDisplay() const {
  std::lock_guard<std::mutex> lock(m_displayLock);
  return Display{m_nProgress, m_nProgressLimit, m_strStatus};
}

QRect CRovikDlg::StatusLineRect() const {
  return QRect(m_rcStatus.left(), m_rcStatus.top(), m_rcStatus.width(), 20);
}

QRect CRovikDlg::ProgressBarRect() const {
  const int top = m_rcStatus.top() + 20 + 5;
  return QRect(m_rcStatus.left(), top, m_rcStatus.width(), m_rcStatus.bottom() + 1 - top);
}

void CRovikDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (!isMinimized()) {
    UpdateStatusRect(event->size());
  }
}

void CRovikDlg::UpdateStatusRect(const QSize& client) {
  // Narrowed by 10 pixels left and right, from 67 to 30 pixels above the bottom.
  m_rcStatus = QRect(10, client.height() - 67, client.width() - 20, 37);
}

void CRovikDlg::paintEvent(QPaintEvent*) {
  QPainter target(this);
  CRWMemoryDC dc(target, rect());
  QPainter& p = dc.painter();
  p.fillRect(rect(), kClientColour);
  const QRect band(0, 0, width(), kBandHeight);
  p.fillRect(band, kBandColour);
  DrawImageCentred(p, m_imgSplash, band);

  const Display display = CurrentDisplay();
  const QRect line = StatusLineRect();
  p.save();
  p.setClipRect(line);
  p.setFont(m_fontStatus);
  p.setPen(kStatusColour);
  p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, display.status);
  p.restore();

  // Outlined like a GDI rectangle: the one-pixel black frame lies inside the rectangle.
  const QRect bar = ProgressBarRect();
  p.setPen(QPen(Qt::black, 0));
  p.setBrush(m_brBack);
  p.drawRect(bar.adjusted(0, 0, -1, -1));
  const int filled = bar.width() * display.progress / 100;
  if (filled > 0) {
    p.setBrush(m_brBar);
    p.drawRect(QRect(bar.left(), bar.top(), filled, bar.height()).adjusted(0, 0, -1, -1));
  }
}

QTimer* CRovikDlg::TimerOf(int id) {
  if (id == kTimerProgress) {
    return &m_timerProgress;
  }
  if (id == kTimerClose) {
    return &m_timerClose;
  }
  return nullptr;
}

void CRovikDlg::OnTimer(int id) {
  if (id == kTimerProgress) {
    {
      std::lock_guard<std::mutex> lock(m_displayLock);
      if (m_nProgress >= m_nProgressLimit - 5) {
        return;
      }
      m_nProgress += 2;
    }
    const int top = m_rcStatus.top() + 20;
    update(QRect(m_rcStatus.left(), top, m_rcStatus.width(), m_rcStatus.bottom() + 1 - top));
  } else if (id == kTimerClose) {
    m_timerClose.stop();
    done(QDialog::Accepted);
  }
}

void CRovikDlg::OnSysCommand(int id) {
  if (id == kAboutCommand) {
    CAboutDlg about(this);
    about.exec();
  }
}

void CRovikDlg::SetProgress(int progress, int limit, const QString& status) {
  std::lock_guard<std::mutex> lock(m_displayLock);
  m_nProgress = progress;
  m_nProgressLimit = limit;
  m_strStatus = status;
}

void CRovikDlg::SetStatus(const QString& status) {
  std::lock_guard<std::mutex> lock(m_displayLock);
  m_strStatus = status;
}

void CRovikDlg::StartTimer(int id, int milliseconds) {
  QMetaObject::invokeMethod(
      this,
      [this, id, milliseconds] {
        if (QTimer* timer = TimerOf(id)) {
          timer->start(milliseconds);
        }
      },
      Qt::QueuedConnection);
}

void CRovikDlg::StopTimer(int id) {
  QMetaObject::invokeMethod(
      this,
      [this, id] {
        if (QTimer* timer = TimerOf(id)) {
          timer->stop();
        }
      },
      Qt::QueuedConnection);
}

void CRovikDlg::Repaint(bool statusLineOnly, std::function<void()> painted) {
  QMetaObject::invokeMethod(
      this,
      [this, statusLineOnly, painted = std::move(painted)] {
        repaint(statusLineOnly ? StatusLineRect() : m_rcStatus);
        if (painted) {
          painted();
        }
      },
      Qt::QueuedConnection);
}

void CRovikDlg::reject() {
  // Escape must not end the window while files are being replaced.
  if (WorkerRunning()) {
    return;
  }
  QDialog::reject();
}

void CRovikDlg::closeEvent(QCloseEvent* event) {
  if (WorkerRunning()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CRovikDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::AltModifier)) {
    m_systemMenu.popup(mapToGlobal(QPoint(0, 0)));
    return;
  }
  if (WorkerRunning() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                          event->key() == Qt::Key_Escape)) {
    return;
  }
  QDialog::keyPressEvent(event);
}

void CRovikDlg::contextMenuEvent(QContextMenuEvent* event) {
  m_systemMenu.popup(event->globalPos());
}

}  // namespace rovik::launcher
