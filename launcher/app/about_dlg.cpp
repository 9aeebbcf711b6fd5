#include "launcher/app/about_dlg.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace rovik::launcher {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("关于 Rovik"));
  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/ICON/128")).pixmap(32, 32));
  m_text = new QLabel(QStringLiteral("Rovik，1.0 版"), this);
  m_ok = new QPushButton(QStringLiteral("确定"), this);
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(m_text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addLayout(buttons);
}

}  // namespace rovik::launcher
