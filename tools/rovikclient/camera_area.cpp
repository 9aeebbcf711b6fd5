// The camera views over the camera session library. Connecting a camera can take seconds, so
// sessions are opened by the area's own connector thread; what it learns reaches the views on
// the user-interface thread.
#include "tools/rovikclient/camera_area.h"

#include <QGridLayout>
#include <QPointer>
#include <thread>

#include "camsession/qx_api.h"
#include "tools/rovikclient/camera_view.h"
#include "tools/rovikclient/client_log.h"
#include "tools/rovikclient/client_window.h"

namespace rovikclient {
namespace {

// The message the connection library sends about its own state: (1, status, 0).
constexpr intptr_t kStatusMessage = 1;
constexpr intptr_t kStatusConnected = 1;
constexpr intptr_t kStatusGone = 3;

class CameraArea : public QWidget {
 public:
  CameraArea(const std::vector<CameraSettings>& cameras, QWidget* parent = nullptr)
      : QWidget(parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < cameras.size() && i < 4; ++i) {
      auto* view = new CameraView(cameras[i], this);
      view->setObjectName(QStringLiteral("camera%1").arg(i));
      grid->addWidget(view, static_cast<int>(i / 2), static_cast<int>(i % 2));
      views_.push_back(view);
    }
    QXAPI_Initial(0);
    QXAPI_SetMessageCallBack(&CameraArea::OnMessage, reinterpret_cast<intptr_t>(this));
  }

  ~CameraArea() override {
    if (connector_.joinable()) connector_.join();
    QXAPI_SetMessageCallBack(nullptr, 0);  // no message reaches this object from now on
    for (CameraView* view : views_) {
      if (view->instance() < 0) continue;
      QXAPI_Stop(view->instance());
      QXAPI_DestroyInstance(view->instance());
    }
    QXAPI_DeInitial();
  }

  // Opens every camera's session once the views have their native windows.
  void Connect() {
    struct Job {
      QPointer<CameraView> view;
      CameraSettings camera;
      uintptr_t window;
    };
    std::vector<Job> jobs;
    for (CameraView* view : views_)
      jobs.push_back({view, view->camera(), view->surface()->NativeWindow()});
    connector_ = std::thread([this, jobs = std::move(jobs)] {
      for (const Job& job : jobs) {
        int32_t index = -1;
        if (QXAPI_CreateInstance(&index) != 0) {
          Post(job.view, -1, QStringLiteral("无法创建"));
          continue;
        }
        Post(job.view, index, QStringLiteral("连接中"));
        QXAPI_Start(index, reinterpret_cast<intptr_t>(job.camera.address.c_str()),
                    reinterpret_cast<intptr_t>(job.camera.user.c_str()),
                    reinterpret_cast<intptr_t>(job.camera.password.c_str()));
        const int32_t video = QXAPI_StartVideo(index, job.window, 0);
        if (video != 0) Post(job.view, index, QStringLiteral("视频被拒绝"));
      }
    });
  }

 private:
  void Post(QPointer<CameraView> view, int32_t index, QString status) {
    QMetaObject::invokeMethod(
        this,
        [view, index, status] {
          if (!view) return;
          view->SetInstance(index);
          view->SetStatus(status);
        },
        Qt::QueuedConnection);
  }

  static void OnMessage(int32_t index, intptr_t v1, intptr_t v2, intptr_t v3, intptr_t context) {
    auto* self = reinterpret_cast<CameraArea*>(context);
    QString status;
    if (v1 == kStatusMessage && v2 == kStatusConnected) {
      status = QStringLiteral("在线");
    } else if (v1 == kStatusMessage && v2 == kStatusGone) {
      status = QStringLiteral("离线");
    } else {
      status = QStringLiteral("消息 %1,%2,%3").arg(v1).arg(v2).arg(v3);
    }
    QMetaObject::invokeMethod(
        self,
        [self, index, status] {
          for (CameraView* view : self->views_) {
            if (view->instance() == index) view->SetStatus(status);
          }
          ClientLog(QStringLiteral("camera %1 status %2").arg(index).arg(status));
        },
        Qt::QueuedConnection);
  }

  std::vector<CameraView*> views_;
  std::thread connector_;  // opens the sessions; joined before the library is closed
};

}  // namespace

QWidget* CreateCameraArea(const std::vector<CameraSettings>& cameras, QWidget* parent) {
  auto* area = new CameraArea(cameras, parent);
  area->setObjectName(QStringLiteral("cameraArea"));
  // Native windows exist once the window is shown; connect right after.
  QMetaObject::invokeMethod(
      area, [area] { area->Connect(); }, Qt::QueuedConnection);
  return area;
}

void AttachCameraArea(ClientWindow& window, const std::vector<CameraSettings>& cameras) {
  window.SetCameraArea(CreateCameraArea(cameras));
}

}  // namespace rovikclient
