#include "tools/rovikclient/client_settings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "alarm/store/private_file/private_file.h"
#include "platform/module_path.h"

using namespace rovik::alarm;

namespace rovikclient {
namespace {

constexpr qint64 kMaxSettingsBytes = 1 << 20;
constexpr std::size_t kMaxCameras = 4;

std::string Text(const QJsonObject& object, const char* key) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isString() ? value.toString().toStdString() : std::string();
}

}  // namespace

ClientSettings LoadClientSettings(const QString& path, QString* error) {
  ClientSettings settings;
  QFile file(path);
  if (!file.exists()) return settings;
  // The file holds account and camera passwords: only its user may read it.
  rovik::alarm::MakeFilePrivate(QFile::encodeName(path).toStdString(), false, "RovikClient");
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSettingsBytes) {
    if (error) *error = QStringLiteral("cannot read %1").arg(path);
    return settings;
  }
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
  if (!doc.isObject()) {
    if (error) *error = QStringLiteral("%1: %2").arg(path, parseError.errorString());
    return settings;
  }
  const QJsonObject root = doc.object();
  for (const QJsonValue& v : root.value(QLatin1String("accounts")).toArray()) {
    if (!v.isObject()) continue;
    const QJsonObject o = v.toObject();
    ClientAccount account{Text(o, "account"), Text(o, "password"), Text(o, "name")};
    if (!account.account.empty()) settings.accounts.push_back(std::move(account));
  }
  for (const QJsonValue& v : root.value(QLatin1String("cameras")).toArray()) {
    if (!v.isObject() || settings.cameras.size() >= kMaxCameras) continue;
    const QJsonObject o = v.toObject();
    CameraSettings camera;
    camera.name = QString::fromStdString(Text(o, "name"));
    camera.address = Text(o, "address");
    camera.user = Text(o, "user");
    camera.password = Text(o, "password");
    if (camera.name.isEmpty()) camera.name = QString::fromStdString(camera.address);
    if (!camera.address.empty()) settings.cameras.push_back(std::move(camera));
  }
  return settings;
}

QString DefaultSettingsPath() {
  return QString::fromStdString(rovik::platform::ProgramFolder()) +
         QStringLiteral("/RovikClient.json");
}

}  // namespace rovikclient
