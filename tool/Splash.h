// The splash window shown while the engine starts and while it closes: the
// program's picture, a fixed line and a message line.
#pragma once

#include <QDialog>

class QLabel;

class CSplash : public QDialog {
    Q_OBJECT
  public:
    explicit CSplash(QWidget* parent = nullptr);
    // Sets the message line, shows the window and lets it paint.
    void ShowMessage(const QString& text);
    QString Message() const;

  private:
    QLabel* message_ = nullptr;
};
