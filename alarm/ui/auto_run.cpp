#include "alarm/ui/auto_run.h"

#include "alarm/ui/dlg_auto_run.h"
#include "platform/module_path.h"
#include "platform/registry.h"

namespace rovik::alarm {

using platform::RegistryKey;
using platform::RegRoot;

bool IsAutoRunChoicePending() {
  const auto key = RegistryKey::Open(RegRoot::LocalMachine, kRovikKey, platform::kKeyRead);
  if (!key) return true;
  const auto value = key->ReadDword(kAutoAlarmValue);
  return !value || *value == 0;
}

std::string AutoRunCommand(const std::string& programPath) { return "\"" + programPath + "\" -s"; }

bool RegisterAutoRun() {
  const std::string path = platform::ModuleFileName();
  if (path.empty()) return false;
  auto key = RegistryKey::Open(RegRoot::LocalMachine, platform::kRunKey, platform::kKeyWrite);
  return key && key->WriteString(kRunValue, AutoRunCommand(path));
}

bool RecordAutoRunChoice() {
  auto key = RegistryKey::Create(RegRoot::LocalMachine, kRovikKey, platform::kKeyWrite);
  return key && key->WriteDword(kAutoAlarmValue, 1);
}

bool OfferAutoRun(QWidget* parent) {
  if (!IsAutoRunChoicePending()) return false;
  CDlgAutoRun prompt(parent);
  if (prompt.exec() == CDlgAutoRun::Accepted) RegisterAutoRun();
  RecordAutoRunChoice();
  return true;
}

}  // namespace rovik::alarm
