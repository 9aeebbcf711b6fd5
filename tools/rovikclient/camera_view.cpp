#include "tools/rovikclient/camera_view.h"

#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "camsession/qx_api.h"
#include "platform/module_path.h"
#include "tools/rovikclient/client_log.h"

using namespace rovik::alarm;

namespace rovikclient {
namespace {

QString FileStem(const CameraSettings& camera) {
  QString name = camera.name;
  for (QChar& c : name) {
    if (!c.isLetterOrNumber()) c = '_';
  }
  return name + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-hhmmss-zzz"));
}

QString ProgramSubfolder(const char* name) {
  const QString folder = QString::fromStdString(rovik::platform::ProgramFolder()) + '/' + name;
  QDir().mkpath(folder);
  return folder;
}

}  // namespace

VideoSurface::VideoSurface(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_NativeWindow);
  setAttribute(Qt::WA_PaintOnScreen);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 90);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

uintptr_t VideoSurface::NativeWindow() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return 0;
  return static_cast<uintptr_t>(winId());
}

CameraView::CameraView(const CameraSettings& camera, QWidget* parent)
    : QWidget(parent),
      camera_(camera),
      surface_(new VideoSurface(this)),
      status_(new QLabel(this)),
      audio_(new QPushButton(QStringLiteral("声音"), this)),
      talk_(new QPushButton(QStringLiteral("对讲"), this)),
      record_(new QPushButton(QStringLiteral("录像"), this)),
      osd_(new QLineEdit(this)) {
  auto* snapshot = new QPushButton(QStringLiteral("抓拍"), this);
  auto* osdApply = new QPushButton(QStringLiteral("字幕"), this);
  for (QPushButton* b : {audio_, talk_, record_}) b->setCheckable(true);
  audio_->setObjectName(QStringLiteral("audio"));
  talk_->setObjectName(QStringLiteral("talk"));
  record_->setObjectName(QStringLiteral("record"));
  snapshot->setObjectName(QStringLiteral("snapshot"));
  osd_->setObjectName(QStringLiteral("osd"));
  osd_->setMaxLength(127);
  osd_->setMinimumWidth(120);
  osd_->setText(camera.name);
  connect(audio_, &QPushButton::clicked, this, [this] { ToggleAudio(); });
  connect(talk_, &QPushButton::clicked, this, [this] { ToggleTalk(); });
  connect(record_, &QPushButton::clicked, this, [this] { ToggleRecording(); });
  connect(snapshot, &QPushButton::clicked, this, [this] { TakeSnapshot(); });
  connect(osdApply, &QPushButton::clicked, this, [this] { ApplyOsd(); });

  auto* title = new QLabel(QStringLiteral("<b>%1</b>").arg(camera.name.toHtmlEscaped()), this);
  auto* top = new QHBoxLayout;
  top->addWidget(title);
  top->addStretch();
  top->addWidget(status_);
  auto* buttons = new QHBoxLayout;
  for (QWidget* w :
       std::initializer_list<QWidget*>{audio_, talk_, snapshot, record_, osd_, osdApply}) {
    buttons->addWidget(w);
  }
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(top);
  layout->addWidget(surface_, 1);
  layout->addLayout(buttons);
  SetStatus(QStringLiteral("连接中"));
}

void CameraView::SetStatus(const QString& text) { status_->setText(text); }

bool CameraView::ToggleAudio() {
  if (index_ < 0) return false;
  const int32_t result = audioOn_ ? QXAPI_StopAudio(index_) : QXAPI_StartAudio(index_);
  if (result == 0) audioOn_ = !audioOn_;
  audio_->setChecked(audioOn_);
  Log(QStringLiteral("audio %1 -> %2").arg(audioOn_ ? "on" : "off").arg(result));
  return result == 0;
}

bool CameraView::ToggleTalk() {
  if (index_ < 0) return false;
  const int32_t result = talkOn_ ? QXAPI_StopTalk(index_) : QXAPI_StartTalk(index_);
  if (result == 0) talkOn_ = !talkOn_;
  talk_->setChecked(talkOn_);
  Log(QStringLiteral("talk %1 -> %2").arg(talkOn_ ? "on" : "off").arg(result));
  return result == 0;
}

QString CameraView::TakeSnapshot() {
  if (index_ < 0) return {};
  const QString path = ProgramSubfolder("Snapshots") + '/' + FileStem(camera_) + ".jpg";
  QXAPI_SnapShot(index_, path.toLocal8Bit().constData());
  Log(QStringLiteral("snapshot %1").arg(path));
  return path;
}

bool CameraView::ToggleRecording() {
  if (index_ < 0) return false;
  if (recording_) {
    QXAPI_StopRecord(index_);
    recording_ = false;
    Log(QStringLiteral("record stop"));
  } else {
    const QString path = ProgramSubfolder("Records") + '/' + FileStem(camera_) + ".avi";
    QXAPI_StartRecord(index_, path.toLocal8Bit().constData(), 0, 0);
    recording_ = true;
    Log(QStringLiteral("record start %1").arg(path));
  }
  record_->setChecked(recording_);
  return true;
}

void CameraView::ApplyOsd() {
  if (index_ < 0) return;
  QXAPI_SetOSD(index_, osd_->text().toLocal8Bit().constData());
}

void CameraView::Log(const QString& line) const {
  ClientLog(QStringLiteral("camera %1 %2").arg(index_).arg(line));
}

}  // namespace rovikclient
