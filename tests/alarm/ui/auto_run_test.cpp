// The auto-start prompt: asked on a fresh registry, never again after either answer, back after
// "AUTOALARM" = 0 or a failed write; the Run entry and its autostart file; the prompt's window.
#include "alarm/ui/auto_run.h"
#include "alarm/ui/dlg_auto_run.h"

#include "platform/module_path.h"
#include "platform/registry.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/fixtures/test_env.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include <gtest/gtest.h>

using namespace rovik::alarm;

using namespace rovik::uikit;

namespace {

using rovik::platform::RegistryKey;
using rovik::platform::RegRoot;

class AutoRunTest : public ::testing::Test {
 protected:
  rovik::fixtures::TempDir dir;
  rovik::fixtures::ScopedEnv registry{"ROVIK_REGISTRY_ROOT", (dir.Path() / "registry").string()};
  rovik::fixtures::ScopedEnv config{"XDG_CONFIG_HOME", (dir.Path() / "config").string()};

  // Answers the next modal prompt by clicking one of its buttons; counts the prompts shown.
  int prompts = 0;
  void AnswerNextPrompt(bool agree) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [this, timer, agree] {
      auto* prompt = qobject_cast<CDlgAutoRun*>(QApplication::activeModalWidget());
      if (!prompt) return;
      ++prompts;
      timer->stop();
      timer->deleteLater();
      CRWButton& button = agree ? prompt->AgreeButton() : prompt->DeclineButton();
      QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
    });
    timer->start();
  }

  std::optional<uint32_t> AutoAlarm() {
    auto key = RegistryKey::Open(RegRoot::LocalMachine, rovik::alarm::kRovikKey,
                                 rovik::platform::kKeyRead);
    return key ? key->ReadDword(rovik::alarm::kAutoAlarmValue) : std::nullopt;
  }
  std::optional<std::string> RunValue() {
    auto key = RegistryKey::Open(RegRoot::LocalMachine, rovik::platform::kRunKey,
                                 rovik::platform::kKeyRead);
    return key ? key->ReadString(rovik::alarm::kRunValue) : std::nullopt;
  }
};

}  // namespace

TEST_F(AutoRunTest, AgreeingWritesTheRunEntryAndIsNotAskedAgain) {
  EXPECT_TRUE(rovik::alarm::IsAutoRunChoicePending());
  AnswerNextPrompt(true);
  EXPECT_TRUE(rovik::alarm::OfferAutoRun());
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(AutoAlarm(), 1u);
  const std::string expected = "\"" + rovik::platform::ModuleFileName() + "\" -s";
  EXPECT_EQ(RunValue(), expected);
  const std::string desktop =
      rovik::fixtures::ReadWholeFile(dir.Path() / "config/autostart/ROVIKALARM.desktop");
  EXPECT_NE(desktop.find("Exec=" + expected), std::string::npos) << desktop;

  EXPECT_FALSE(rovik::alarm::IsAutoRunChoicePending());
  EXPECT_FALSE(rovik::alarm::OfferAutoRun());
  EXPECT_EQ(prompts, 1);
}

TEST_F(AutoRunTest, DecliningOnlyRecordsTheChoice) {
  AnswerNextPrompt(false);
  EXPECT_TRUE(rovik::alarm::OfferAutoRun());
  EXPECT_EQ(AutoAlarm(), 1u);
  EXPECT_FALSE(RunValue().has_value());
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "config/autostart/ROVIKALARM.desktop"));
  EXPECT_FALSE(rovik::alarm::OfferAutoRun());
}

TEST_F(AutoRunTest, ZeroSetByHandBringsThePromptBack) {
  ASSERT_TRUE(rovik::alarm::RecordAutoRunChoice());
  EXPECT_FALSE(rovik::alarm::IsAutoRunChoicePending());
  auto key = RegistryKey::Create(RegRoot::LocalMachine, rovik::alarm::kRovikKey,
                                 rovik::platform::kKeyWrite);
  ASSERT_TRUE(key && key->WriteDword(rovik::alarm::kAutoAlarmValue, 0));
  EXPECT_TRUE(rovik::alarm::IsAutoRunChoicePending());
  AnswerNextPrompt(false);
  EXPECT_TRUE(rovik::alarm::OfferAutoRun());
  EXPECT_EQ(prompts, 1);
}

TEST_F(AutoRunTest, FailedRecordLeavesTheChoicePending) {
  // The registry's machine folder cannot be created: a plain file is in its way.
  ASSERT_TRUE(
      rovik::fixtures::WriteWholeFile(dir.Path() / "registry/HKEY_LOCAL_MACHINE", "not a folder"));
  EXPECT_FALSE(rovik::alarm::RecordAutoRunChoice());
  EXPECT_TRUE(rovik::alarm::IsAutoRunChoicePending());
  AnswerNextPrompt(true);
  EXPECT_TRUE(rovik::alarm::OfferAutoRun());
  EXPECT_TRUE(rovik::alarm::IsAutoRunChoicePending());
}

TEST(AutoRunCommand, QuotesPathsWithBlanks) {
  EXPECT_EQ(rovik::alarm::AutoRunCommand("/opt/My Programs/Rovik/RovikAlarm"),
            "\"/opt/My Programs/Rovik/RovikAlarm\" -s");
}

TEST(DlgAutoRun, LayoutAndLook) {
  CDlgAutoRun prompt;
  prompt.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&prompt));
  EXPECT_EQ(prompt.size(), QSize(300, 175));
  EXPECT_EQ(prompt.AgreeButton().geometry(), QRect(210, 135, 80, 35));
  EXPECT_EQ(prompt.DeclineButton().geometry(), QRect(95, 135, 110, 35));
  EXPECT_TRUE(prompt.AgreeButton().m_bUseImages);
  EXPECT_TRUE(prompt.DeclineButton().m_bUseImages);
  const QImage shot = prompt.grab().toImage();
  EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(238, 238, 238));    // outer border
  EXPECT_EQ(QColor(shot.pixel(150, 2)), QColor(17, 104, 179));   // title image
  EXPECT_EQ(QColor(shot.pixel(5, 160)), QColor(220, 235, 249));  // footer band
  EXPECT_EQ(QColor(shot.pixel(5, 110)), QColor(250, 250, 250));  // message area
  bool text = false;
  for (int x = 17; x < 200 && !text; ++x)
    for (int y = 38; y < 58 && !text; ++y) text = QColor(shot.pixel(x, y)) != QColor(250, 250, 250);
  EXPECT_TRUE(text) << "first message line not drawn";
}

TEST(DlgAutoRun, EnterAgreesAndEscapeDeclines) {
  CDlgAutoRun prompt;
  QTimer::singleShot(0, [&] { QTest::keyClick(&prompt, Qt::Key_Return); });
  EXPECT_EQ(prompt.exec(), QDialog::Accepted);
  QTimer::singleShot(0, [&] { QTest::keyClick(&prompt, Qt::Key_Escape); });
  EXPECT_EQ(prompt.exec(), QDialog::Rejected);
}
