#include "shell/WindowOperator.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <cstdio>

#include "common/DeviceEndpoint.h"
#include "shell/TCWForm.h"

namespace orvana {

namespace {

QString toQt(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

QString MainWindowCaption(const std::string& address, unsigned devicePort) {
  QString caption = QStringLiteral("Orvana - ") + toQt(address);
  if (devicePort != kDevicePort) caption += QStringLiteral(":%1").arg(devicePort);
  return caption;
}

WindowOperator::WindowOperator(OperatorSurface& surface, Operator* answers)
    : surface_(surface), answers_(answers) {}

WindowOperator::~WindowOperator() {
  if (waitCursor_) QApplication::restoreOverrideCursor();
}

void WindowOperator::message(const std::string& text) {
  if (closing_) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  if (answers_ != nullptr) return answers_->message(text);
  QMessageBox box(QMessageBox::Information, QStringLiteral("Orvana"), toQt(text), QMessageBox::Ok,
                  surface_.dialogParent());
  box.exec();
}

bool WindowOperator::confirm(const std::string& text) {
  if (closing_) return false;
  if (answers_ != nullptr) return answers_->confirm(text);
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), toQt(text),
                  QMessageBox::Yes | QMessageBox::No, surface_.dialogParent());
  // Every question guards something that cannot be undone: Enter must not answer it.
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

bool WindowOperator::prompt(const std::string& text, std::string& value) {
  if (closing_) return false;
  if (answers_ != nullptr) return answers_->prompt(text, value);
  QInputDialog box(surface_.dialogParent());
  box.setWindowTitle(QString());
  box.setLabelText(toQt(text));
  box.setTextValue(toQt(value));
  if (box.exec() != QDialog::Accepted) return false;
  value = box.textValue().toStdString();
  return true;
}

int WindowOperator::choose(const std::string& text, const std::vector<std::string>& options) {
  if (closing_) return -1;
  if (answers_ != nullptr) return answers_->choose(text, options);
  QStringList items;
  for (const std::string& o : options) items << toQt(o);
  TCWForm form(surface_.dialogParent(), toQt(text), items);
  form.exec();
  return form.Tag();
}

void WindowOperator::setStatus(int panel, const std::string& text) {
  if (answers_ != nullptr) answers_->setStatus(panel, text);
  surface_.showStatus(panel, toQt(text));
}

void WindowOperator::setProgressMax(int maximum) {
  surface_.showProgressMax(maximum);
}

void WindowOperator::setProgress(int position) {
  surface_.showProgress(position);
}

void WindowOperator::setTitle(const std::string& text) {
  if (answers_ != nullptr) answers_->setTitle(text);
  // The application's own title: the desktop shows it beside the window caption.
  QGuiApplication::setApplicationDisplayName(toQt(text));
}

void WindowOperator::setCursor(Cursor cursor) {
  const bool wait = cursor == Cursor::Wait;
  if (wait == waitCursor_) return;
  waitCursor_ = wait;
  if (wait)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void WindowOperator::setControlsEnabled(bool enabled) {
  surface_.showControlsEnabled(enabled);
}

void WindowOperator::processEvents() {
  // Pages come every few hundred microseconds; pumping after each would cost more than the
  // page itself. A few milliseconds keep the window and Cancel responsive.
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ < pumpInterval) return;
  lastPump_ = now;
  surface_.syncWithCore();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (answers_ != nullptr) answers_->processEvents();
}

void WindowOperator::requestTerminate() {
  if (answers_ != nullptr) answers_->requestTerminate();
  surface_.terminateSoon();
}

QString WindowOperator::askOpenFile(const QString& folder) {
  if (closing_) return {};
  if (answers_ != nullptr) {
    if (fileAnswers.empty()) return {};
    QString file = toQt(fileAnswers.front());
    fileAnswers.pop_front();
    return file;
  }
  return QFileDialog::getOpenFileName(surface_.dialogParent(), QString(), folder,
                                      QStringLiteral("AVI (*.avi)"));
}

QString WindowOperator::askSaveFile(const QString& filter, const QString& suffix) {
  if (closing_) return {};
  if (answers_ != nullptr) {
    if (fileAnswers.empty()) return {};
    QString file = toQt(fileAnswers.front());
    fileAnswers.pop_front();
    return file;
  }
  QFileDialog dialog(surface_.dialogParent());
  dialog.setObjectName(QStringLiteral("SaveDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void WindowOperator::beginClosing() {
  closing_ = true;
  // A question left open would keep the operation waiting for a person who has gone.
  while (QWidget* modal = QApplication::activeModalWidget()) {
    QPointer<QWidget> guard(modal);
    modal->close();
    if (guard && guard->isVisible()) break;
  }
}

}  // namespace orvana
